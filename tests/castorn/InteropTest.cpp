// The engine against node-media-server v4 as people run it: with a key, without one,
// with its publish authentication, and over RTMPS with a certificate that checks out
// and one that does not. What arrives is checked with ffprobe.
#include "OnAirFixture.h"

#include "support/NodeMediaServer.h"
#include "support/WaitUntil.h"

#include <gio/gio.h>

#include <algorithm>
#include <ctime>
#include <thread>

using namespace castorn_test;
using namespace std::chrono_literals;
namespace cn = castorn_notification;

namespace {

constexpr char kSecret[] = "nms-test-secret";
constexpr int kRefusalsBeforeGivingUp = 3;

// node-media-server's publish key for live/s: "sign=EXPIRY-MD5(/live/s-EXPIRY-SECRET)".
std::string SignedKey(const std::string& secret)
{
    const std::string expiry = std::to_string(std::time(nullptr) + 3600);
    const std::string text = "/live/s-" + expiry + "-" + secret;
    gchar* md5 = g_compute_checksum_for_string(G_CHECKSUM_MD5, text.c_str(), -1);
    const std::string key = "sign=" + expiry + "-" + md5;
    g_free(md5);
    return key;
}

// The test CA trusted by this process's TLS connections for as long as this lives;
// the system's trust store again afterwards. The product itself has no such switch.
class TrustedForThisTest {
public:
    explicit TrustedForThisTest(const std::string& caFile)
    {
        GError* error = nullptr;
        GTlsDatabase* database = g_tls_file_database_new(caFile.c_str(), &error);
        if (!database) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
            return;
        }
        g_tls_backend_set_default_database(g_tls_backend_get_default(), database);
        g_object_unref(database);
    }
    ~TrustedForThisTest() { g_tls_backend_set_default_database(g_tls_backend_get_default(), nullptr); }
    TrustedForThisTest(const TrustedForThisTest&) = delete;
    TrustedForThisTest& operator=(const TrustedForThisTest&) = delete;
};

class PublishingToNodeMediaServer : public Publishing {
protected:
    void SetUp() override
    {
        if (!NodeMediaServer::Available()) GTEST_SKIP() << "needs node and node-media-server (tests/peers)";
        Publishing::SetUp();
    }

    // On air for three seconds to `address`; what the server recorded is what was asked for.
    void PublishAndCheck(NodeMediaServer& server, const std::string& address, const std::string& key)
    {
        const OnAir on{.key = key};
        ASSERT_NO_FATAL_FAILURE(GoLive(on, address));
        GoOffAir(3s);
        ASSERT_TRUE(WaitUntil([&] { return !server.Recordings().empty(); }, 3s));
        ExpectAsAsked(OnlyRecording(server.Recordings()), on);
    }

    // The publication is refused a few times and then given up, told as final.
    Json::Value AwaitGivingUp()
    {
        const Json::Value last = m_log.WaitFor("OnPublishError", 15s, kRefusalsBeforeGivingUp - 1);
        EXPECT_TRUE(last["final"].asBool());
        EXPECT_EQ(m_log.Count("OnReconnecting"), kRefusalsBeforeGivingUp - 1);
        std::this_thread::sleep_for(3s);
        EXPECT_EQ(m_log.Count("OnConnecting"), kRefusalsBeforeGivingUp) << "no more attempts after the last";
        return last;
    }

    bool Holds(const std::vector<std::string>& lines, const std::string& part)
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(part) != std::string::npos; });
    }
};

}  // namespace

TEST_F(PublishingToNodeMediaServer, TheDefaultKeyPublishesAsTheQueryOfTheStreamName)
{
    NodeMediaServer server({});
    PublishAndCheck(server, server.Address(), "qex");
    EXPECT_TRUE(Holds(server.Publishes(), "postPublish /live/s {\"qex\":\"\"}")) << "the application stays bare";
}

TEST_F(PublishingToNodeMediaServer, AnEmptyKeyPublishesWithNoQueryAtAll)
{
    NodeMediaServer server({});
    PublishAndCheck(server, server.Address(), "");
    EXPECT_TRUE(Holds(server.Publishes(), "postPublish /live/s {}"));
}

TEST_F(PublishingToNodeMediaServer, ACorrectlySignedKeyPublishes)
{
    NodeMediaServer server({.secret = kSecret});
    PublishAndCheck(server, server.Address(), SignedKey(kSecret));
}

TEST_F(PublishingToNodeMediaServer, AWronglySignedKeyIsRefusedReportedAndNotTriedForever)
{
    NodeMediaServer server({.secret = kSecret});
    const std::string key = SignedKey("not-the-secret");
    ASSERT_TRUE(GoOnAir({.key = key}, server.Address()));
    const Json::Value first = m_log.WaitFor("OnPublishError", 5s);
    EXPECT_EQ(first["reason"].asString(), cn::kReasonRejected);
    EXPECT_FALSE(first["final"].asBool());
    EXPECT_EQ(m_log.WaitFor("OnReconnecting", 1s)["reason"].asString(), cn::kReasonRejected);
    EXPECT_EQ(AwaitGivingUp()["reason"].asString(), cn::kReasonRejected);
    GoOffAir();

    EXPECT_TRUE(server.Recordings().empty());
    EXPECT_TRUE(Holds(server.Publishes(), "prePublish /live/s")) << "the server was asked";
    EXPECT_FALSE(Holds(server.Publishes(), "postPublish")) << "and took nothing";
    const std::string hash = key.substr(key.find('-') + 1);
    for (const auto& text : m_log.Texts()) EXPECT_EQ(text.find(hash), std::string::npos) << "the key stays inside";
}

TEST_F(PublishingToNodeMediaServer, RtmpsToACertificateOfATrustedAuthorityPublishes)
{
    TestCertificates certificates;
    NodeMediaServer server({.certificate = certificates.File("server.crt"), .key = certificates.File("server.key")});
    TrustedForThisTest trust(certificates.File("ca.crt"));
    PublishAndCheck(server, server.SecureAddress(), "qex");
}

TEST_F(PublishingToNodeMediaServer, RtmpsToACertificateNobodyVouchesForSendsNothing)
{
    TestCertificates certificates;
    NodeMediaServer server({.certificate = certificates.File("self.crt"), .key = certificates.File("self.key")});
    ASSERT_TRUE(GoOnAir({}, server.SecureAddress()));
    const Json::Value first = m_log.WaitFor("OnPublishError", 5s);
    EXPECT_EQ(first["reason"].asString(), cn::kReasonTls);
    EXPECT_NE(first["message"].asString().find("certificate"), std::string::npos);
    EXPECT_EQ(AwaitGivingUp()["reason"].asString(), cn::kReasonTls);
    GoOffAir();
    EXPECT_EQ(m_log.Count("OnConnected"), 0);
    EXPECT_TRUE(server.Publishes().empty()) << "the server never saw a publish, nor the key";
    EXPECT_TRUE(server.Recordings().empty());
}
