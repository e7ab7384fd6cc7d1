#pragma once

#include <QString>

class QWidget;

namespace terralume {

// Brings the running instance forward when a second start asked for it:
// the main window is restored if minimised and raised; the modal window,
// when one is open, is the one that gets the focus. The launcher's token
// is handed to the platform so that the window manager lets us do it.
void bringToFront(QWidget *mainWindow, const QString &activationToken);

} // namespace terralume
