#include "DesignScale.h"

#include <QGuiApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace terralume::ui {

int DesignScale::stretched(int designPixels, double factor) const
{
    if (factor == 1.0)
        return (*this)(designPixels);
    return static_cast<int>(std::lround(designPixels * factor * dpi_ / kDesignDpi));
}

FaceStretch faceStretch(const QFont &font, int screenDpi)
{
    const double dpi = screenDpi > 0 ? screenDpi : kDesignDpi;
    const QFontMetricsF metrics(font);
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const double letterWidth = metrics.horizontalAdvance(letters) / letters.size();
    const double designLetterWidth = kDesignLetterWidth * dpi / kDesignDpi;
    const double designLineHeight = kDesignLineHeight * dpi / kDesignDpi;
    // Text is laid out in whole pixels: a line takes the pixel rows its
    // ascent and descent cover.
    const double lineHeight = std::ceil(metrics.ascent()) + std::ceil(metrics.descent());
    return {std::max(1.0, letterWidth / designLetterWidth), std::max(1.0, lineHeight / designLineHeight)};
}

DesignScale primaryScreenScale()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return DesignScale(screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch())) : kDesignDpi);
}

namespace {

// Until the window manager has framed a window, Qt can only place its
// client area, which would push the title bar off the top of the screen.
// Once the window is first exposed the frame is known, and the window is
// placed again by its frame.
class FramePlacer : public QObject {
public:
    FramePlacer(QWidget &window, QPoint position) : QObject(&window), window_(window), position_(position) {}

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose && window_.windowHandle()->isExposed()) {
            watched->removeEventFilter(this);
            place();
            // Some window managers report the frame only a moment later.
            QTimer::singleShot(kSecondLookMs, this, [this] {
                place();
                deleteLater();
            });
        }
        return false;
    }

private:
    static constexpr int kSecondLookMs = 250;

    void place()
    {
        QWindow *handle = window_.windowHandle();
        if (window_.windowState() != Qt::WindowNoState)
            return;
        // Where the client area really is, asked of the display: the
        // window's own idea of its position may already include the frame.
        const QMargins frame = handle->frameMargins();
        const QPoint client = position_ + QPoint(frame.left(), frame.top());
        if (handle->mapToGlobal(QPoint(0, 0)) != client)
            handle->setGeometry(QRect(client, handle->size()));
    }

    QWidget &window_;
    QPoint position_;
};

} // namespace

void placeFrameAt(QWidget &window, QPoint position)
{
    window.move(position);
    window.winId();
    if (QWindow *handle = window.windowHandle())
        handle->installEventFilter(new FramePlacer(window, position));
}

} // namespace terralume::ui
