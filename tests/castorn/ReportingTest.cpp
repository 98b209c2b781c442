// What the engine tells about a publication: the reasons it gives for the errors
// rtmp2sink posts (their texts as GStreamer 1.22 words them), and the figures of
// its statistics.
#include "castorn/FailureReason.h"
#include "castorn/SendStatistics.h"
#include "interface/EngineInterface.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

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

}  // namespace

TEST(FailureReason, ConnectionFailuresAreToldApartByTheirCause)
{
    EXPECT_EQ(
        Classify(GST_RESOURCE_ERROR_OPEN_READ, "Connection refused: Could not connect to 127.0.0.1: Connection refused",
                 "../gst/rtmp2/gstrtmp2sink.c(1114): send_connect_error (): /GstPipeline:castorn-send")
            .reason,
        cn::kReasonRefused);
    EXPECT_EQ(Classify(GST_RESOURCE_ERROR_FAILED,
                       "Failed to connect: Error resolving \xe2\x80\x9cnonexistent.invalid\xe2\x80\x9d: "
                       "Name or service not known",
                       std::string(kConnectDetail) + "domain g-resolver-error-quark, code 0")
                  .reason,
              cn::kReasonUnresolved);
    EXPECT_EQ(Classify(GST_RESOURCE_ERROR_FAILED, "Failed to connect: Socket I/O timed out",
                       std::string(kConnectDetail) + "domain g-io-error-quark, code 24")
                  .reason,
              cn::kReasonTimeout);
    const Failure tls = Classify(GST_RESOURCE_ERROR_FAILED, "Failed to connect: Unacceptable TLS certificate",
                                 std::string(kConnectDetail) + "domain g-tls-error-quark, code 2");
    EXPECT_EQ(tls.reason, cn::kReasonTls);
    EXPECT_NE(tls.message.find("Unacceptable TLS certificate"), std::string::npos);
    EXPECT_EQ(Classify(GST_RESOURCE_ERROR_FAILED, "Failed to connect: Short read (want 3073 have 103)",
                       std::string(kConnectDetail) + "domain g-io-error-quark, code 34")
                  .reason,
              cn::kReasonOther);
}

TEST(FailureReason, ARefusedPublishCarriesTheServersOwnWords)
{
    const Failure taken =
        Classify(GST_RESOURCE_ERROR_FAILED,
                 "Failed to connect: publish denied; stream already exists: { \"level\": \"error\", \"code\": "
                 "\"NetStream.Publish.BadName\", \"description\": \"Already publishing\" }",
                 std::string(kConnectDetail) + "domain g-io-error-quark, code 2");
    EXPECT_EQ(taken.reason, cn::kReasonRejected);
    EXPECT_EQ(taken.message, "the server refused the publish: Already publishing");

    const Failure unknownApp =
        Classify(GST_RESOURCE_ERROR_FAILED, "Failed to connect: 'connect' cmd failed: connection closed remotely",
                 std::string(kConnectDetail) + "domain g-io-error-quark, code 0");
    EXPECT_EQ(unknownApp.reason, cn::kReasonRejected);
    EXPECT_EQ(unknownApp.message, "the server refused the publish: 'connect' cmd failed: connection closed remotely");

    EXPECT_EQ(Classify(GST_RESOURCE_ERROR_FAILED,
                       "Failed to connect: authentication failed; reason 'authfailed': { \"level\": \"error\" }",
                       std::string(kConnectDetail) + "domain g-io-error-quark, code 14")
                  .reason,
              cn::kReasonRejected);
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
