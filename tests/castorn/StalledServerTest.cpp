// A server that stops taking data while the stream is live (SIGSTOP, as a hung server):
// once it has acknowledged nothing for the silence limit, the engine gives the connection
// up, says why, keeps the stream on air and retries until the server takes it again.
// nginx and the engine run in a network namespace of the test's own, whose kernel keeps
// little for a program that does not read: with the usual growing buffers a stopped
// server's kernel takes minutes of a stream before it acknowledges nothing more.
#include "OnAirFixture.h"
#include "ProcessTraces.h"

#include "castorn/RtmpSender.h"
#include "support/Frozen.h"
#include "support/ShapedNetwork.h"
#include "support/WaitUntil.h"

#include <thread>

using namespace std::chrono_literals;

namespace castorn_test {

namespace {

std::string g_whyNoNamespace;
// Before any thread: everything the tests start lives in the namespace.
const bool g_namespace = ShapedNetwork::Enter(g_whyNoNamespace);

// Far above what a call may take, far below what waiting on the stopped server takes.
constexpr std::chrono::milliseconds kCallBound{3000};
// The engine reads the connection's figures ten times a second.
constexpr std::chrono::milliseconds kPollSlack{500};
// The server's socket fills in a few seconds; then the limit runs.
constexpr std::chrono::seconds kGiveUpBound{60};

class StalledServer : public Publishing {
protected:
    void SetUp() override
    {
        if (!g_namespace) GTEST_SKIP() << g_whyNoNamespace;
        ShapedNetwork::BoundReceiveBuffers(16 * 1024);
        Publishing::SetUp();
        if (IsSkipped() || HasFailure()) return;
        ASSERT_NO_FATAL_FAILURE(GoLive());
        m_connections = m_log.Count("OnConnected");
        std::this_thread::sleep_for(1s);
    }

    // The server, hung just before, is given up as lost once it has been silent for the
    // whole limit, and retried while it still hangs; the stream stays on air.
    void ExpectGivenUp()
    {
        const int reconnects = m_log.Count("OnReconnecting");
        const int drops = m_log.Count("OnDisconnected");
        const auto frozenAt = std::chrono::steady_clock::now();
        const Json::Value dropped = m_log.WaitFor("OnDisconnected", kGiveUpBound, drops);
        ASSERT_FALSE(dropped.isNull()) << "a server that takes nothing is given up";
        EXPECT_GE(std::chrono::steady_clock::now() - frozenAt, castorn::RtmpSender::kSilenceLimit - kPollSlack)
            << "not before it has been silent for the whole limit";
        // The element's own write timeout is the same limit, and may see it first.
        const std::string reason = dropped["reason"].asString();
        EXPECT_TRUE(reason == "lost" || reason == "timeout") << reason;
        const Json::Value retry = m_log.WaitFor("OnReconnecting", 5s, reconnects);
        ASSERT_FALSE(retry.isNull()) << "the lost connection is retried";
        EXPECT_EQ(retry["reason"].asString(), reason);
        EXPECT_EQ(retry["message"].asString(), dropped["message"].asString());
        EXPECT_GT(retry["delayMs"].asInt64(), 0);
        EXPECT_EQ(m_log.Count("OnPublishStopped"), 0) << "the stream stays on air";
        EXPECT_EQ(m_log.Count("OnPublishError"), 0) << "a live connection lost is no publish error";
    }

    // Connected again by itself, and the server records what comes after.
    void ExpectOnAirAgain()
    {
        ASSERT_FALSE(m_log.WaitFor("OnConnected", 60s, m_connections).isNull()) << "on air again by itself";
        GoOffAir(3s);
        const auto recordings = m_server->Recordings();
        ASSERT_GE(recordings.size(), 2u) << "a publication before the hang and one after";
        const MediaInfo after = Probe(recordings.back());
        EXPECT_EQ(after.videoCodec, "h264");
        EXPECT_GT(after.duration, 2.0);
    }

    int m_connections = 0;
};

}  // namespace

TEST_F(StalledServer, IsGivenUpAfterTheSilenceLimitAndPublishedToAgainOnceItGoesOn)
{
    {
        Frozen frozen(*m_server);
        ASSERT_NO_FATAL_FAILURE(ExpectGivenUp());
    }
    ExpectOnAirAgain();
}

TEST_F(StalledServer, GivenUpAndReplacedIsPublishedToAgain)
{
    {
        Frozen frozen(*m_server);
        ASSERT_NO_FATAL_FAILURE(ExpectGivenUp());
        m_server->Stop();
        m_server->Start();  // on the same port
    }
    ExpectOnAirAgain();
}

TEST_F(StalledServer, GivenUpWhileItHangsHoldsUpNeitherStopNorRelease)
{
    Frozen frozen(*m_server);
    ASSERT_NO_FATAL_FAILURE(ExpectGivenUp());
    const auto start = std::chrono::steady_clock::now();
    m_engine->StopPublish();
    EXPECT_LT(std::chrono::steady_clock::now() - start, kCallBound);
    const auto released = std::chrono::steady_clock::now();
    m_engine->Release();
    m_engine = nullptr;
    EXPECT_LT(std::chrono::steady_clock::now() - released, kCallBound);
    frozen.Thaw();
    EXPECT_TRUE(WaitUntil(NoEngineThread, 20s)) << "the engine's threads end once the server goes on";
    EXPECT_EQ(ConnectionsTo(m_server->Port()), 0) << "no connection of the engine's is left";
}

}  // namespace castorn_test
