// The status control and the level meter: what the stream is doing, in the window's
// free space. Only these two controls ever change on the engine's word.
#include "window/MainDialog.h"

#include "platform/DialogTemplate.h"
#include "res/Resources.h"
#include "window/PreviewPicture.h"
#include "settings/SettingsFile.h"
#include "window/LevelMeter.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace {

// Often enough that a clock and a countdown step with the second.
constexpr int kStatusTickMs = 200;
// The meter takes this part of the room between the video frame and the buttons.
constexpr int kMeterShareOfGap = 4;
// A status line too long for the column is set smaller, down to this, before it wraps.
constexpr qreal kSmallestStatusPoints = 7;
constexpr qreal kStatusPointStep = 0.5;

std::chrono::steady_clock::time_point Now()
{
    return std::chrono::steady_clock::now();
}

// The dialog's font, or a smaller one in which every line fits the width.
QFont FittingFont(const QFont& dialogFont, const QString& text, int width)
{
    QFont font = dialogFont;
    const auto fits = [&] {
        const QFontMetricsF metrics(font);
        return std::ranges::all_of(text.split('\n'),
                                   [&](const QString& line) { return metrics.horizontalAdvance(line) <= width; });
    };
    while (!fits() && font.pointSizeF() - kStatusPointStep >= kSmallestStatusPoints)
        font.setPointSizeF(font.pointSizeF() - kStatusPointStep);
    return font;
}

}  // namespace

// The meter stands in the gap beside the video frame, as tall as the frame; the
// status fills the right-hand column under "下麦", beside the audio device list.
void Cpublish_taviskDlg::CreateStatusControls()
{
    const QRect frame = DialogItem(*this, IDC_PREVIEW_FRAME)->geometry();
    const QRect above = DialogItem(*this, IDC_RECORD)->geometry();  // the last control of the column
    const QRect audio = DialogItem(*this, IDC_AUDIO_DEVICE)->geometry();
    const int gap = Button(IDC_ON_AIR)->geometry().left() - frame.right() - 1;
    const int margin = frame.left();

    m_levelMeter = new LevelMeter(this);
    m_levelMeter->setObjectName(QString::number(IDC_LEVEL_METER));
    m_levelMeter->setAccessibleName(QString::fromUtf8("音量"));
    const int meterWidth = gap / kMeterShareOfGap;
    m_levelMeter->setGeometry(frame.right() + 1 + (gap - meterWidth) / 2, frame.top(), meterWidth, frame.height());

    m_statusText = new QLabel(this);
    m_statusText->setObjectName(QString::number(IDC_STATUS));
    m_statusText->setAccessibleName(QString::fromUtf8("推流状态"));
    m_statusText->setWordWrap(true);
    m_statusText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const int left = audio.right() + 1 + margin / 4;
    const int top = above.bottom() + 1 + margin / 2;
    m_statusText->setGeometry(left, top, width() - margin / 4 - left, height() - margin - top);

    m_statusTick = new QTimer(this);
    m_statusTick->setInterval(kStatusTickMs);
    connect(m_statusTick, &QTimer::timeout, this, &Cpublish_taviskDlg::ShowStatus);
}

void Cpublish_taviskDlg::InitStatus()
{
    PublishSettings onFile;
    ReadDialogSettings(kSettingsPath, onFile);
    m_levelMeter->setVisible(onFile.m_bShowSpectrum);
    ShowStatus();
}

// Before StartPublish: an engine may answer from inside it.
void Cpublish_taviskDlg::StatusOnAir()
{
    m_status.GoneOnAir(m_settings.m_strKey);
    m_levelMeter->setVisible(m_settings.m_bShowSpectrum);
    m_levelMeter->Rest();
    m_statusTick->start();
    ShowStatus();
}

void Cpublish_taviskDlg::StatusOffAir()
{
    m_status.GoneOffAir();
    m_levelMeter->Rest();
    m_statusTick->stop();
    ShowStatus();
    ClearVideoFrame();
}

void Cpublish_taviskDlg::OnEngineEvents(PendingEvents pending)
{
    // A publication the engine ended by itself leaves no last picture frozen either.
    for (const TimedEvent& timed : pending.events)
        if (timed.event.kind == EngineEventKind::PublishStopped) ClearVideoFrame();
    if (!m_status.OnAir()) return;
    for (const TimedEvent& timed : pending.events) m_status.Apply(timed.event, timed.at);
    if (pending.loudest) m_levelMeter->Report(*pending.loudest);
    ShowStatus();
}

void Cpublish_taviskDlg::ShowStatus()
{
    const QString text = m_status.Text(Now());
    if (text != m_statusText->text()) {
        const QFont fitting = FittingFont(font(), text, m_statusText->contentsRect().width());
        if (fitting != m_statusText->font()) m_statusText->setFont(fitting);
        m_statusText->setText(text);
    }
    const QString tip = m_status.ToolTip();
    if (tip != m_statusText->toolTip()) m_statusText->setToolTip(tip);
}

// No picture reaches the receiver once StopPublish has returned: what is left goes here.
void Cpublish_taviskDlg::ClearVideoFrame()
{
    m_preview->Clear();
}
