#include "window/PreviewPicture.h"

#include <QFrame>
#include <QPainter>
#include <QtGlobal>

#include <cmath>
#include <cstring>
#include <utility>

// BGRx read as 32-bit words is Qt's 0xffRRGGBB once the fourth byte is made opaque.
static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "BGRx pixels are taken as RGB32 words");

PreviewPicture::PreviewPicture(QWidget* frame) : QWidget(frame)
{
    const auto* framed = qobject_cast<const QFrame*>(frame);
    setGeometry(framed ? framed->contentsRect() : frame->rect());
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PreviewPicture::OnPreviewFrame(WindowHandle, const std::uint8_t* pixels, int width, int height, int stride)
{
    if (!pixels || width <= 0 || height <= 0 || stride < width * 4) return;
    QImage copy(width, height, QImage::Format_RGB32);
    if (copy.isNull()) return;
    for (int row = 0; row < height; ++row) {
        auto* line = reinterpret_cast<quint32*>(copy.scanLine(row));
        std::memcpy(line, pixels + static_cast<std::ptrdiff_t>(row) * stride, static_cast<std::size_t>(width) * 4);
        for (int x = 0; x < width; ++x) line[x] |= 0xff000000u;
    }
    bool send = false;
    {
        const std::lock_guard lock(m_mutex);
        m_latest = std::move(copy);
        send = !std::exchange(m_sent, true);
    }
    // Posted, never waited for: the engine's thread must not wait on the window's.
    if (send) QMetaObject::invokeMethod(this, &PreviewPicture::ShowLatest, Qt::QueuedConnection);
}

void PreviewPicture::ShowLatest()
{
    QImage latest;
    {
        const std::lock_guard lock(m_mutex);
        m_sent = false;
        latest = std::exchange(m_latest, QImage());
    }
    if (latest.isNull()) return;  // cleared meanwhile
    m_shown = std::move(latest);
    update();
}

void PreviewPicture::Clear()
{
    {
        const std::lock_guard lock(m_mutex);
        m_latest = QImage();
    }
    m_shown = QImage();
    update();
}

QSize PreviewPicture::LargestPicture() const
{
    const qreal ratio = devicePixelRatioF();
    return {static_cast<int>(std::lround(width() * ratio)), static_cast<int>(std::lround(height() * ratio))};
}

void PreviewPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_shown.isNull()) return;
    const QSize fitted = m_shown.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_shown);
}
