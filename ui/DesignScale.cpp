#include "DesignScale.h"

#include <QGuiApplication>
#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cmath>

namespace terralume::ui {

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
