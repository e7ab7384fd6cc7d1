#pragma once
// F10, and a lone Alt, work the menu bar: they select the active window's
// first menu, and again leave the menus. Qt's menu bar does the work,
// taking the keyboard focus so that the arrows, Enter and Escape work its
// menus and a screen reader follows them; each key is handed to the widget
// that has the keys as a lone Alt.
//
// A lone Alt is told here rather than by Qt's menu bar: with a screen
// reader, Qt 6.4's bridge holds every key press and release until the
// reader has seen it and then delivers copies, which Qt's menu bar takes
// for keys pressed between Alt's press and release, losing the Alt. The
// window system's shortcut check before each press is never held, so those
// checks come in the order the keys were pressed in.

#include <QObject>

namespace terralume::ui {

// Watches the key presses of the application once installed on it.
class MenuBarKeys : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void toggleMenus(QObject *keyReceiver);

    bool altAlone_ = false;
    bool toggling_ = false;
};

} // namespace terralume::ui
