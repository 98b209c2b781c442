// The picture inside the video frame control: the engine's preview pictures, painted
// by Qt over black, scaled to fit with their aspect kept. Only the latest picture
// waits to be shown; a faster engine replaces it rather than queue behind it.
#pragma once

#include "interface/EngineInterface.h"

#include <QImage>
#include <QWidget>

#include <mutex>

class PreviewPicture : public QWidget, public ICastornPreview {
public:
    explicit PreviewPicture(QWidget* frame);  // fills the frame inside its border

    // On the engine's streaming thread: copies the picture and has the window's thread show it.
    void OnPreviewFrame(WindowHandle frame, const std::uint8_t* pixels, int width, int height, int stride) override;

    void Clear();                  // back to black, dropping a picture on its way
    QSize LargestPicture() const;  // in the screen's pixels: what the engine need not exceed

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowLatest();

    std::mutex m_mutex;
    QImage m_latest;      // guarded: waiting for the window's thread
    bool m_sent = false;  // guarded: a call to ShowLatest is on its way
    QImage m_shown;
};
