#include "window/StreamStatus.h"

#include "interface/EngineInterface.h"
#include "settings/StreamParameters.h"

#include <QStringList>
#include <algorithm>
#include <cstring>

namespace n = castorn_notification;

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

constexpr char kMask[] = "***";

struct ReasonPhrase {
    const char* code;
    const char* phrase;
};

constexpr ReasonPhrase kReasonPhrases[] = {
    {n::kReasonRefused, "连接被拒绝"},     {n::kReasonUnresolved, "找不到服务器"},
    {n::kReasonTimeout, "连接超时"},       {n::kReasonRejected, "服务器拒绝推流"},
    {n::kReasonTls, "证书无效"},           {n::kReasonLost, "连接中断"},
    {n::kReasonCapture, "无法采集音视频"}, {n::kReasonParameter, "参数无效"},
    {n::kReasonNoStream, kNoStreamPhrase}, {n::kReasonAddress, kBadAddressPhrase},
    {n::kReasonDenied, "屏幕共享被拒绝"},
};
constexpr char kOtherPhrase[] = "未知错误";

QString Phrase(const std::string& reason)
{
    for (const ReasonPhrase& known : kReasonPhrases)
        if (reason == known.code) return QString::fromUtf8(known.phrase);
    return QString::fromUtf8(kOtherPhrase);
}

struct SourceWords {
    const char* lost;
    const char* back;
};

// In the order of CaptureSource.
constexpr SourceWords kSourceWords[] = {
    {"视频源已断开", "视频源已恢复"},
    {"麦克风已断开", "麦克风已恢复"},
    {"背景音已断开", "背景音已恢复"},
};

// Whole seconds left, rounded up, so that "1 秒" shows until the very end.
long long SecondsLeft(milliseconds left)
{
    return (left.count() + 999) / 1000;
}

}  // namespace

void StreamStatus::GoneOnAir(std::string secret)
{
    *this = StreamStatus();
    m_phase = Phase::Started;
    m_secret = std::move(secret);
}

void StreamStatus::GoneOffAir()
{
    *this = StreamStatus();
}

void StreamStatus::Apply(const EngineEvent& event, TimePoint at)
{
    if (m_phase == Phase::OffAir) return;
    switch (event.kind) {
    case EngineEventKind::Connecting:
        m_attempt = std::max(m_attempt, event.attempt);
        if (m_phase == Phase::Started) m_phase = Phase::Connecting;
        if (m_phase == Phase::Retrying) m_retryAt.reset();
        break;
    case EngineEventKind::Connected: Connected(at); break;
    case EngineEventKind::Statistics: Statistics(event, at); break;
    case EngineEventKind::Disconnected:
        // Going off air is the window's own doing and says so itself.
        if (event.reason != n::kReasonStopped && m_phase == Phase::Live) Fail(Phase::Retrying, event);
        break;
    case EngineEventKind::Reconnecting:
        if (m_phase == Phase::Failed) break;
        Fail(Phase::Retrying, event);
        m_attempt = event.attempt;
        m_retryAt = at + milliseconds(event.delayMs);
        break;
    case EngineEventKind::PublishError:
        if (m_phase != Phase::Failed) Fail(event.final ? Phase::Failed : Phase::Retrying, event);
        break;
    case EngineEventKind::SourceLost:
    case EngineEventKind::SourceBack: {
        Source& source = m_sources[static_cast<std::size_t>(event.source)];
        source.lost = event.kind == EngineEventKind::SourceLost;
        source.backAt = source.lost ? std::nullopt : std::optional(at);
        source.name = event.name;
        if (source.lost) source.message = event.message;
        source.refused = source.lost && event.reason == n::kReasonDenied;
        break;
    }
    // The level is the meter's; a stop is the window's own doing.
    case EngineEventKind::AudioPercent:
    case EngineEventKind::PublishStopped: break;
    case EngineEventKind::RecordingStarted:
    case EngineEventKind::RecordingStopped:
    case EngineEventKind::RecordingFailed: m_recording.Apply(event, at); break;
    }
}

void StreamStatus::Fail(Phase phase, const EngineEvent& event)
{
    m_phase = phase;
    m_reason = event.reason;
    m_message = event.message;
    m_refusedField = event.reason == n::kReasonParameter ? event.field : std::string();
    m_refusedValue = event.value;
    m_retryAt.reset();
}

void StreamStatus::Connected(TimePoint at)
{
    if (m_phase == Phase::Failed) return;
    // The clock counts from the first connection: a reconnect is a gap in one broadcast.
    if (m_wasLive)
        ++m_reconnects;
    else
        m_liveSince = at;
    m_phase = Phase::Live;
    m_wasLive = true;
    m_kbps.reset();
    m_framesDropped = 0;
    m_congested = false;
    m_reason.clear();
    m_message.clear();
}

void StreamStatus::Statistics(const EngineEvent& event, TimePoint at)
{
    if (m_phase != Phase::Live) return;
    // The engine counts from this connection's first media: only the first connection's
    // count sets the clock, and later ones only keep it from stepping back.
    if (m_reconnects == 0) {
        const TimePoint since = at - milliseconds(event.liveMs);
        m_liveSince = m_kbps ? std::min(m_liveSince, since) : since;
    }
    m_kbps = event.kbps;
    m_framesDropped = event.framesDropped;
    m_congested = event.congested;
    m_videoKbps = event.videoKbps;
    m_videoKbpsSet = event.videoKbpsSet;
    m_backlogMs = event.backlogMs;
}

QString StreamStatus::Text(TimePoint now) const
{
    QStringList lines{StreamLines(now), m_recording.Line(now), SourceLines(now)};
    lines.removeAll(QString());
    return lines.join('\n');
}

QString StreamStatus::StreamLines(TimePoint now) const
{
    switch (m_phase) {
    case Phase::OffAir: return QString::fromUtf8("未上麦");
    case Phase::Started: return QString::fromUtf8("已上麦");
    case Phase::Connecting: return QString::fromUtf8("正在连接…");
    case Phase::Live: return LiveLines(now);
    case Phase::Retrying:
        if (m_wasLive) {
            const QString attempt = QString::fromUtf8("第 %1 次，").arg(std::max(m_attempt, 1));
            return QString::fromUtf8("重新连接中\n") + Phrase(m_reason) + '\n' + attempt + RetryLine(now);
        }
        return QString::fromUtf8("推流失败：") + Phrase(m_reason) + '\n' + RetryLine(now);
    case Phase::Failed: {
        const QString failed = QString::fromUtf8("推流失败：") + Phrase(m_reason);
        return m_refusedField.empty() ? failed : failed + '\n' + RefusedParameterText(m_refusedField, m_refusedValue);
    }
    }
    return {};
}

QString StreamStatus::LiveLines(TimePoint now) const
{
    const QString clock = ElapsedClock(duration_cast<milliseconds>(now - m_liveSince));
    const QString reconnects = m_reconnects > 0 ? QString::fromUtf8("\n已重连 %1 次").arg(m_reconnects) : QString();
    if (m_congested) return QString::fromUtf8("网络拥塞 ") + clock + reconnects + '\n' + CongestionLines();
    QString text = QString::fromUtf8("直播中 ") + clock + reconnects;
    if (m_kbps) text += QString::fromUtf8("\n%1 kbps").arg(*m_kbps);
    if (m_framesDropped > 0) text += QString::fromUtf8("\n丢帧 %1").arg(m_framesDropped);
    return text;
}

// What the stream gives up to keep going: its rate against the one set, pictures, delay.
QString StreamStatus::CongestionLines() const
{
    QString text = QString::fromUtf8("视频 %1 / %2 kbps").arg(m_videoKbps).arg(m_videoKbpsSet);
    if (m_kbps) text += QString::fromUtf8("，发送 %1 kbps").arg(*m_kbps);
    text += QString::fromUtf8("\n丢帧 %1，积压 %2 秒").arg(m_framesDropped).arg(m_backlogMs / 1000.0, 0, 'f', 1);
    return text;
}

QString StreamStatus::RetryLine(TimePoint now) const
{
    const milliseconds left = m_retryAt ? duration_cast<milliseconds>(*m_retryAt - now) : milliseconds(0);
    if (left.count() <= 0) return QString::fromUtf8("正在重试…");
    return QString::fromUtf8("%1 秒后重试").arg(SecondsLeft(left));
}

QString StreamStatus::SourceLines(TimePoint now) const
{
    QStringList lines;
    for (std::size_t i = 0; i < m_sources.size(); ++i) {
        const Source& source = m_sources[i];
        if (source.refused)
            lines << Phrase(n::kReasonDenied);
        else if (source.lost)
            lines << QString::fromUtf8(kSourceWords[i].lost);
        else if (source.backAt && now - *source.backAt < kSourceBackShownFor)
            lines << QString::fromUtf8(kSourceWords[i].back);
    }
    return lines.join('\n');
}

QString StreamStatus::ToolTip() const
{
    QStringList lines;
    if ((m_phase == Phase::Retrying || m_phase == Phase::Failed) && !m_message.empty()) lines << Masked(m_message);
    for (const Source& source : m_sources)
        if (source.lost) lines << Masked(source.name.empty() ? source.message : source.name + ": " + source.message);
    if (const QString recording = m_recording.ToolTip(); !recording.isEmpty()) lines << recording;
    return lines.join('\n');
}

QString StreamStatus::Masked(const std::string& text) const
{
    std::string masked = text;
    if (!m_secret.empty())
        for (auto at = masked.find(m_secret); at != std::string::npos;
             at = masked.find(m_secret, at + std::strlen(kMask)))
            masked.replace(at, m_secret.size(), kMask);
    return QString::fromUtf8(masked);
}
