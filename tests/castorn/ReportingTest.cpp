// What the engine tells about a publication: the reasons it gives for the errors
// rtmp2sink posts (their texts as GStreamer 1.22 words them), and the figures of
// its statistics.
#include "castorn/FailureReason.h"
#include "castorn/SendStatistics.h"
#include "interface/EngineInterface.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <tuple>

using namespace castorn;
using namespace std::chrono_literals;
namespace cn = castorn_notification;

namespace {

constexpr char kConnectDetail[] =
    "../gst/rtmp2/gstrtmp2sink.c(1117): send_connect_error (): /GstPipeline:castorn-send/GstRtmp2Sink:rtmp2sink0:\n";

Failure Classify(GstResourceError code, const char* message, const std::string& debug,
                 std::optional<std::chrono::milliseconds> sinceAccepted = std::nullopt)
{
    GError* error = g_error_new_literal(GST_RESOURCE_ERROR, code, message);
    const Failure failure = ClassifySenderError(*error, debug, sinceAccepted);
    g_error_free(error);
    return failure;
}

// An error of the connection's set-up, with the error domain and code its detail ends with.
Failure ClassifyConnectError(const char* message, const char* domain)
{
    return Classify(GST_RESOURCE_ERROR_FAILED, message, std::string(kConnectDetail) + "domain " + domain);
}

}  // namespace

TEST(FailureReason, ConnectionFailuresAreToldApartByTheirCause)
{
    EXPECT_EQ(
        Classify(GST_RESOURCE_ERROR_OPEN_READ, "Connection refused: Could not connect to 127.0.0.1: Connection refused",
                 "../gst/rtmp2/gstrtmp2sink.c(1114): send_connect_error (): /GstPipeline:castorn-send")
            .reason,
        cn::kReasonRefused);
    const std::tuple<const char*, const char*, const char*> failures[] = {
        {"Failed to connect: Error resolving \xe2\x80\x9cnonexistent.invalid\xe2\x80\x9d: Name or service not known",
         "g-resolver-error-quark, code 0", cn::kReasonUnresolved},
        {"Failed to connect: Socket I/O timed out", "g-io-error-quark, code 24", cn::kReasonTimeout},
        {"Failed to connect: Unacceptable TLS certificate", "g-tls-error-quark, code 2", cn::kReasonTls},
        {"Failed to connect: Short read (want 3073 have 103)", "g-io-error-quark, code 34", cn::kReasonOther},
    };
    for (const auto& [message, domain, reason] : failures)
        EXPECT_EQ(ClassifyConnectError(message, domain).reason, reason) << message;
    EXPECT_NE(ClassifyConnectError("Failed to connect: Unacceptable TLS certificate", "g-tls-error-quark, code 2")
                  .message.find("Unacceptable TLS certificate"),
              std::string::npos);
}

TEST(FailureReason, ARefusedPublishCarriesTheServersOwnWords)
{
    const std::tuple<const char*, const char*, const char*> refusals[] = {
        {"Failed to connect: publish denied; stream already exists: { \"level\": \"error\", \"code\": "
         "\"NetStream.Publish.BadName\", \"description\": \"Already publishing\" }",
         "g-io-error-quark, code 2", "the server refused the publish: Already publishing"},
        {"Failed to connect: 'connect' cmd failed: connection closed remotely", "g-io-error-quark, code 0",
         "the server refused the publish: 'connect' cmd failed: connection closed remotely"},
        {"Failed to connect: authentication failed; reason 'authfailed': { \"level\": \"error\" }",
         "g-io-error-quark, code 14", nullptr},
    };
    for (const auto& [message, domain, told] : refusals) {
        const Failure refused = ClassifyConnectError(message, domain);
        EXPECT_EQ(refused.reason, cn::kReasonRejected) << message;
        EXPECT_TRUE(!told || refused.message == told) << refused.message;
        // Only the first says the server still holds a publication of the stream.
        EXPECT_EQ(AlreadyPublishing(refused), &message == &std::get<0>(refusals[0])) << message;
    }
}

TEST(FailureReason, AConnectionClosedSoonAfterThePublishIsARefusalLaterALoss)
{
    const std::string detail =
        "../gst/rtmp2/gstrtmp2sink.c(1085): error_callback (): /GstPipeline:castorn-send:\n"
        "domain g-io-error-quark, code 44";
    const char* closed = "Connection error: connection closed remotely";
    EXPECT_EQ(Classify(GST_RESOURCE_ERROR_WRITE, closed, detail, 0ms).reason, cn::kReasonRejected);
    EXPECT_EQ(Classify(GST_RESOURCE_ERROR_WRITE, closed, detail, kRefusalWindow - 1ms).reason, cn::kReasonRejected);
    const Failure lost = Classify(GST_RESOURCE_ERROR_WRITE, closed, detail, kRefusalWindow);
    EXPECT_EQ(lost.reason, cn::kReasonLost);
    EXPECT_EQ(lost.message, closed);
}

TEST(SendStatistics, RateCoversTheLastSecondsAndLiveTimeCountsFromTheStart)
{
    using Clock = SendStatistics::Clock;
    const Clock::time_point start{};
    SendStatistics statistics;
    statistics.Begin(start, 5000);
    Json::Value first = statistics.Sample(start + 1s, {5000 + 125000, 10, 0, 300});
    EXPECT_EQ(first["liveMs"].asInt64(), 1000);
    EXPECT_EQ(first["kbps"].asInt(), 1000) << "125 000 bytes in a second";
    EXPECT_EQ(first["framesSent"].asInt64(), 10);
    EXPECT_EQ(first["bytesQueued"].asInt64(), 300);

    // Three more seconds at 1000 kbps, then one silent second: the last three seconds carry two of data.
    std::uint64_t bytes = 130000;
    for (int second = 2; second <= 4; ++second)
        statistics.Sample(start + std::chrono::seconds(second), {bytes += 125000});
    const Json::Value stalled = statistics.Sample(start + 5s, {bytes, 50, 7, 90000});
    EXPECT_EQ(stalled["liveMs"].asInt64(), 5000);
    EXPECT_EQ(stalled["kbps"].asInt(), 666);
    EXPECT_EQ(stalled["framesDropped"].asInt64(), 7);

    statistics.Begin(start + 10s, 0);
    EXPECT_EQ(statistics.Sample(start + 10s, {0})["kbps"].asInt(), 0) << "a new connection, no time yet";
}
