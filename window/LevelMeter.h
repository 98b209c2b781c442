// Control 1025: the level of the sound that is sent, with a peak mark. Its value is
// the level shown, 0 at rest.
#pragma once

#include "window/LevelBallistics.h"

#include <QProgressBar>
#include <QTimer>

class LevelMeter : public QProgressBar {
public:
    explicit LevelMeter(QWidget* parent);

    void Report(int percent);
    void Rest();
    int Peak() const { return m_shownPeak; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Follow();

    static constexpr int kFrameMs = 33;

    LevelBallistics m_ballistics;
    QTimer m_frames;
    int m_shownPeak = 0;
};
