#pragma once
// F10 works the menu bar as a lone Alt does: it selects the active window's
// first menu, and again leaves the menus. Qt's menu bar answers Alt pressed
// and released itself, taking the keyboard focus so that the arrows, Enter
// and Escape work its menus and a screen reader follows them; F10 is handed
// to the widget that has the keys as exactly that.

#include <QObject>

namespace terralume::ui {

// Watches the key presses of the application once installed on it.
class MenuBarKeys : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace terralume::ui
