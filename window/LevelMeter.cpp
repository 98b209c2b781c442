#include "window/LevelMeter.h"

#include <QPainter>

namespace {

constexpr int kPeakMarkHeight = 2;
constexpr QColor kPeakColour(200, 40, 40);

}  // namespace

LevelMeter::LevelMeter(QWidget* parent) : QProgressBar(parent)
{
    setOrientation(Qt::Vertical);
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
    m_frames.setInterval(kFrameMs);
    connect(&m_frames, &QTimer::timeout, this, &LevelMeter::Follow);
}

void LevelMeter::Report(int percent)
{
    m_ballistics.Report(percent, std::chrono::steady_clock::now());
    Follow();
    if (m_shownPeak > 0) m_frames.start();
}

void LevelMeter::Rest()
{
    m_ballistics.Reset();
    Follow();
}

// Moves the bar to where the ballistics say; stops the frames once at rest.
void LevelMeter::Follow()
{
    const auto now = std::chrono::steady_clock::now();
    const int peak = m_ballistics.Peak(now);
    if (peak != m_shownPeak) update();
    m_shownPeak = peak;
    setValue(m_ballistics.Level(now));
    if (peak == 0) m_frames.stop();
}

void LevelMeter::paintEvent(QPaintEvent* event)
{
    QProgressBar::paintEvent(event);
    if (m_shownPeak == 0) return;
    QPainter painter(this);
    const QRect inside = rect().adjusted(1, 1, -1, -1);
    const int y = inside.bottom() - (inside.height() - kPeakMarkHeight) * m_shownPeak / maximum();
    painter.fillRect(inside.left(), y - kPeakMarkHeight + 1, inside.width(), kPeakMarkHeight, kPeakColour);
}
