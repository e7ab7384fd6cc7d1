#include "WindowActivation.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>

namespace terralume {

namespace {

void restoreAndRaise(QWidget *window)
{
    if (window->windowState() & Qt::WindowMinimized)
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
}

// Wayland compositors only let a window take the focus with a token from
// the launcher; the platform plugin reads it from the environment at the
// next activation and consumes it. X11 window managers look at the startup
// id only for windows mapped after it was set, so there it is kept for the
// record and the request to activate relies on the window manager.
void offerToken(const QString &token)
{
    if (token.isEmpty())
        return;
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        qputenv("XDG_ACTIVATION_TOKEN", token.toLatin1());
    else if (platform == QLatin1String("xcb"))
        qputenv("DESKTOP_STARTUP_ID", token.toLatin1());
}

} // namespace

void bringToFront(QWidget *mainWindow, const QString &activationToken)
{
    if (!mainWindow)
        return;
    restoreAndRaise(mainWindow);
    QWidget *focusTarget = mainWindow;
    // A modal map or about window stays open and on top of its owner.
    if (QWidget *modal = QApplication::activeModalWidget(); modal && modal != mainWindow) {
        restoreAndRaise(modal);
        focusTarget = modal;
    }
    offerToken(activationToken);
    focusTarget->activateWindow();
}

} // namespace terralume
