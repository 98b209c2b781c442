#include "window/LevelBallistics.h"
#include "window/StreamStatus.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class Status : public ::testing::Test {
protected:
    using TimePoint = StreamStatus::TimePoint;

    void SetUp() override { status.GoneOnAir("qex"); }

    void Apply(EngineEvent event, std::chrono::milliseconds after = 0ms)
    {
        now += after;
        status.Apply(event, now);
    }
    QString Text(std::chrono::milliseconds after = 0ms)
    {
        now += after;
        return status.Text(now);
    }
    static EngineEvent Failure(EngineEventKind kind, const char* reason, bool final = false)
    {
        return {.kind = kind, .reason = reason, .message = "Connection refused by 127.0.0.1", .final = final};
    }
    static EngineEvent Retry(int attempt, int delayMs, const char* reason)
    {
        EngineEvent retry = Failure(EngineEventKind::Reconnecting, reason);
        retry.attempt = attempt;
        retry.delayMs = delayMs;
        return retry;
    }
    static EngineEvent Figures(std::int64_t liveMs, int kbps, std::int64_t dropped = 0)
    {
        return {.kind = EngineEventKind::Statistics, .liveMs = liveMs, .kbps = kbps, .framesDropped = dropped};
    }

    StreamStatus status;
    TimePoint now{};
};

}  // namespace

TEST_F(Status, OnAirWithoutWordFromTheEngineThenConnecting)
{
    StreamStatus off;
    EXPECT_EQ(off.Text(now), "未上麦");
    EXPECT_EQ(Text(), "已上麦");
    Apply({.kind = EngineEventKind::AudioPercent, .percent = 50}, 10s);
    EXPECT_EQ(Text(), "已上麦") << "an engine that reports nothing keeps it";
    Apply({.kind = EngineEventKind::Connecting, .attempt = 1});
    EXPECT_EQ(Text(), "正在连接…");
    status.GoneOffAir();
    EXPECT_EQ(Text(), "未上麦");
    Apply({.kind = EngineEventKind::Connected});
    EXPECT_EQ(Text(), "未上麦") << "what comes after going off air changes nothing";
}

TEST_F(Status, EveryReasonHasItsPhraseAndTheEnginesWordsAreTheToolTipWithoutTheKey)
{
    const std::pair<const char*, const char*> phrases[] = {
        {"refused", "连接被拒绝"},     {"unresolved", "找不到服务器"}, {"rejected", "服务器拒绝推流"},
        {"tls", "证书无效"},           {"timeout", "连接超时"},        {"lost", "连接中断"},
        {"capture", "无法采集音视频"}, {"other", "未知错误"},          {"new-in-a-later-engine", "未知错误"},
    };
    for (const auto& [reason, phrase] : phrases) {
        status.GoneOnAir("qex");
        Apply(Failure(EngineEventKind::PublishError, reason, true));
        EXPECT_EQ(Text(), QString("推流失败：") + phrase) << reason;
    }
    EngineEvent withKey = Failure(EngineEventKind::PublishError, "rejected", true);
    withKey.message = "publish of live?qex refused: key qex unknown";
    status.GoneOnAir("qex");
    Apply(withKey);
    EXPECT_EQ(status.ToolTip(), "publish of live?*** refused: key *** unknown");
    EXPECT_FALSE(Text().contains("qex"));
}

TEST_F(Status, AFailureBeforeGoingLiveCountsDownToTheNextAttempt)
{
    Apply({.kind = EngineEventKind::Connecting, .attempt = 1});
    Apply(Failure(EngineEventKind::PublishError, "refused"), 5ms);
    EXPECT_EQ(Text(), "推流失败：连接被拒绝\n正在重试…");
    Apply(Retry(2, 3000, "refused"));
    EXPECT_EQ(Text(), "推流失败：连接被拒绝\n3 秒后重试");
    EXPECT_EQ(Text(1001ms), "推流失败：连接被拒绝\n2 秒后重试");
    EXPECT_EQ(Text(999ms), "推流失败：连接被拒绝\n1 秒后重试");
    EXPECT_EQ(Text(1000ms), "推流失败：连接被拒绝\n正在重试…");
    Apply({.kind = EngineEventKind::Connecting, .attempt = 2});
    EXPECT_EQ(Text(), "推流失败：连接被拒绝\n正在重试…");
    EXPECT_EQ(status.ToolTip(), "Connection refused by 127.0.0.1");
    Apply({.kind = EngineEventKind::Connected});
    EXPECT_EQ(Text(), "直播中 00:00:00");
    EXPECT_EQ(status.ToolTip(), "");
}

TEST_F(Status, LiveShowsTheEnginesTimeOnAirAdvancingTheBitrateAndDroppedFrames)
{
    Apply({.kind = EngineEventKind::Connected});
    EXPECT_EQ(Text(999ms), "直播中 00:00:00");
    EXPECT_EQ(Text(1ms), "直播中 00:00:01");
    Apply(Figures(3723000, 2480));
    EXPECT_EQ(Text(), "直播中 01:02:03\n2480 kbps");
    EXPECT_EQ(Text(1000ms), "直播中 01:02:04\n2480 kbps") << "the clock goes on between the engine's figures";
    Apply(Figures(3723990, 2300, 12), 10ms);
    EXPECT_EQ(Text(), "直播中 01:02:04\n2300 kbps\n丢帧 12") << "never a step back";
    Apply(Figures(360000000, 1));
    EXPECT_EQ(Text(), "直播中 100:00:00\n1 kbps") << "hours beyond a day, no dropped frames line without any";
}

TEST_F(Status, CongestionShowsTheRateSentAgainstTheOneSetDroppedFramesAndTheBacklogUntilItClears)
{
    Apply({.kind = EngineEventKind::Connected});
    EngineEvent congested = Figures(65000, 830, 41);
    congested.videoKbps = 690;
    congested.videoKbpsSet = 2500;
    congested.backlogMs = 1250;
    congested.congested = true;
    Apply(congested);
    EXPECT_EQ(Text(), "网络拥塞 00:01:05\n视频 690 / 2500 kbps，发送 830 kbps\n丢帧 41，积压 1.3 秒");
    EngineEvent clear = Figures(90000, 2610, 41);
    clear.videoKbps = 2500;
    clear.videoKbpsSet = 2500;
    Apply(clear, 25s);
    EXPECT_EQ(Text(), "直播中 00:01:30\n2610 kbps\n丢帧 41");
}

TEST_F(Status, ALossAfterGoingLiveReconnectsWithAttemptCountdownAndReason)
{
    Apply({.kind = EngineEventKind::Connected});
    Apply(Figures(5000, 800), 5s);
    Apply(Failure(EngineEventKind::Disconnected, "lost"), 1s);
    EXPECT_EQ(Text(), "重新连接中\n连接中断\n第 1 次，正在重试…");
    Apply(Retry(2, 2000, "lost"));
    EXPECT_EQ(Text(), "重新连接中\n连接中断\n第 2 次，2 秒后重试");
    EXPECT_EQ(Text(1500ms), "重新连接中\n连接中断\n第 2 次，1 秒后重试");
    Apply({.kind = EngineEventKind::Connecting, .attempt = 2}, 500ms);
    Apply(Failure(EngineEventKind::PublishError, "refused"), 1ms);
    Apply(Retry(3, 4000, "refused"));
    EXPECT_EQ(Text(), "重新连接中\n连接被拒绝\n第 3 次，4 秒后重试");
    Apply({.kind = EngineEventKind::Connected}, 4s);
    EXPECT_EQ(Text(), "直播中 00:00:12\n已重连 1 次") << "the clock counts from going live, gap included";
    Apply(Figures(1000, 700), 1s);
    EXPECT_EQ(Text(), "直播中 00:00:13\n已重连 1 次\n700 kbps") << "the new connection's own count moves nothing";
    Apply(Failure(EngineEventKind::Disconnected, "lost"), 1s);
    Apply({.kind = EngineEventKind::Connected}, 2s);
    EXPECT_EQ(Text(), "直播中 00:00:16\n已重连 2 次");
    status.GoneOnAir("qex");
    Apply({.kind = EngineEventKind::Connected});
    EXPECT_EQ(Text(), "直播中 00:00:00") << "a new broadcast starts its own count";
}

TEST_F(Status, ARefusalAtGoingOnAirNamesWhatWasRefused)
{
    EngineEvent parameter = Failure(EngineEventKind::PublishError, "parameter", true);
    parameter.field = "fps";
    parameter.value = -5;
    Apply(parameter);
    EXPECT_EQ(Text(), "推流失败：参数无效\n帧率 -5");
    EXPECT_FALSE(status.Broadcasting()) << "nothing to lose by closing";
    EXPECT_TRUE(status.OnAir());
    parameter.field = "videoBitrate";
    parameter.value = -5000;
    status.GoneOnAir("qex");
    Apply(parameter);
    EXPECT_EQ(Text(), "推流失败：参数无效\n视频码率 -5") << "in the kbps the operator typed";

    const std::pair<const char*, const char*> addresses[] = {
        {"nostream", "推流失败：地址缺少流名称"},
        {"address", "推流失败：地址格式不对"},
    };
    for (const auto& [reason, text] : addresses) {
        status.GoneOnAir("qex");
        EXPECT_TRUE(status.Broadcasting());
        Apply(Failure(EngineEventKind::PublishError, reason, true));
        EXPECT_EQ(Text(), QString::fromUtf8(text));
    }
}

TEST_F(Status, AFinalFailureStaysUntilOffAirAndGoingOffAirIsNoFailure)
{
    Apply({.kind = EngineEventKind::Connected});
    Apply(Failure(EngineEventKind::Disconnected, "stopped"));
    EXPECT_EQ(Text(), "直播中 00:00:00") << "the engine's own word for going off air";
    Apply({.kind = EngineEventKind::PublishStopped});
    EXPECT_EQ(Text(), "直播中 00:00:00");
    Apply(Failure(EngineEventKind::PublishError, "rejected", true));
    EXPECT_EQ(Text(), "推流失败：服务器拒绝推流");
    Apply(Retry(2, 1000, "lost"));
    Apply({.kind = EngineEventKind::Connecting, .attempt = 2});
    Apply({.kind = EngineEventKind::Connected});
    Apply(Failure(EngineEventKind::PublishError, "timeout"));
    EXPECT_EQ(Text(10s), "推流失败：服务器拒绝推流");
    status.GoneOffAir();
    EXPECT_EQ(Text(), "未上麦");
    EXPECT_EQ(status.ToolTip(), "");
}

TEST_F(Status, LostSourcesShowBesideTheStreamsStateAndTheirReturnForAWhile)
{
    Apply({.kind = EngineEventKind::Connected});
    Apply({.kind = EngineEventKind::SourceLost,
           .message = "device unplugged",
           .source = CaptureSource::Audio,
           .name = "USB Mic"});
    EXPECT_EQ(Text(), "直播中 00:00:00\n麦克风已断开");
    EXPECT_EQ(status.ToolTip(), "USB Mic: device unplugged");
    Apply({.kind = EngineEventKind::SourceLost, .source = CaptureSource::Video});
    Apply({.kind = EngineEventKind::SourceLost, .source = CaptureSource::Background});
    EXPECT_EQ(Text(), "直播中 00:00:00\n视频源已断开\n麦克风已断开\n背景音已断开");
    Apply({.kind = EngineEventKind::SourceBack, .source = CaptureSource::Audio}, 2s);
    Apply({.kind = EngineEventKind::SourceBack, .source = CaptureSource::Video});
    Apply({.kind = EngineEventKind::SourceBack, .source = CaptureSource::Background});
    EXPECT_EQ(Text(), "直播中 00:00:02\n视频源已恢复\n麦克风已恢复\n背景音已恢复");
    EXPECT_EQ(status.ToolTip(), "");
    EXPECT_EQ(Text(StreamStatus::kSourceBackShownFor), "直播中 00:00:07");
    Apply({.kind = EngineEventKind::SourceLost, .source = CaptureSource::Audio});
    Apply(Failure(EngineEventKind::Disconnected, "lost"));
    EXPECT_EQ(Text(), "重新连接中\n连接中断\n第 1 次，正在重试…\n麦克风已断开");
    status.GoneOffAir();
    status.GoneOnAir("");
    EXPECT_EQ(Text(), "已上麦") << "a new time on air starts clean";
}

TEST_F(Status, ARefusedScreenShareIsNamedAsSuch)
{
    Apply({.kind = EngineEventKind::Connected});
    Apply({.kind = EngineEventKind::SourceLost,
           .reason = "denied",
           .message = "screen sharing was refused",
           .source = CaptureSource::Video,
           .name = "Screen (desktop portal)"});
    EXPECT_EQ(Text(), "直播中 00:00:00\n屏幕共享被拒绝");
    EXPECT_EQ(status.ToolTip(), "Screen (desktop portal): screen sharing was refused");
    Apply({.kind = EngineEventKind::SourceBack, .source = CaptureSource::Video});
    Apply({.kind = EngineEventKind::SourceLost, .source = CaptureSource::Video});
    EXPECT_EQ(Text(), "直播中 00:00:00\n视频源已断开") << "a later loss of another kind is an ordinary one";
}

TEST(LevelBallistics, RisesAtOnceHoldsBetweenReportsAndRestsWithinASecond)
{
    LevelBallistics meter;
    const LevelBallistics::TimePoint start{};
    EXPECT_EQ(meter.Level(start), 0);
    // A steady tone, reported five times a second.
    auto at = start;
    for (int i = 0; i < 10; ++i, at += 200ms) {
        meter.Report(80, at);
        EXPECT_EQ(meter.Level(at + 199ms), 80);
    }
    // Silence reported: the bar falls, quieter reports do not hold it up.
    const auto last = at - 200ms;
    int previous = 80;
    for (; at < last + 1s; at += 200ms) {
        meter.Report(0, at);
        if (at > last + 200ms) {
            EXPECT_TRUE(meter.Level(at) < previous || previous == 0) << "falls until at rest";
        }
        previous = meter.Level(at);
    }
    EXPECT_EQ(meter.Level(last + 1s), 0);
    EXPECT_EQ(meter.Peak(last + 1s), 0);
    // No reports at all after a loud one.
    meter.Report(100, at);
    EXPECT_EQ(meter.Level(at + 1s), 0);
    EXPECT_EQ(meter.Peak(at + 1s), 0);
}

TEST(LevelBallistics, ThePeakMarkStaysAboveTheBarALittleLonger)
{
    LevelBallistics meter;
    const LevelBallistics::TimePoint start{};
    meter.Report(90, start);
    meter.Report(30, start + 100ms);
    EXPECT_EQ(meter.Peak(start + 350ms), 90);
    EXPECT_LT(meter.Level(start + 350ms), 90);
    for (auto t = start; t < start + 1s; t += 50ms) EXPECT_GE(meter.Peak(t), meter.Level(t));
    meter.Report(60, start + 2s);
    EXPECT_EQ(meter.Peak(start + 2s), 60);
    meter.Reset();
    EXPECT_EQ(meter.Level(start + 2s), 0);
    EXPECT_EQ(meter.Peak(start + 2s), 0);
}
