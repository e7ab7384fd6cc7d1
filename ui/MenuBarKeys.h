#pragma once
// The menu bar from the keyboard, as the program's home platform has it:
// F10, or Alt pressed and released with nothing between, selects the active
// window's first menu, and a second time leaves the menus. From there the
// menus' own keys work: the arrows move through menus and entries, Enter
// chooses, Escape leaves. Qt does this only where its style asks for it,
// which no Linux style does. A command on the bar itself has no menu to take
// those keys; they work it here.

#include <QObject>

class QAction;
class QKeyEvent;
class QMenuBar;
class QWidget;

namespace terralume::ui {

// Watches every event of the application once installed on it.
class MenuBarKeys : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override;

    // The menu bar of `window`, if it has one.
    static QMenuBar *menuBarOf(const QWidget *window);

private:
    // The active window's menu bar, when it is shown.
    static QMenuBar *activeMenuBar();
    // Selects the first menu of the active window, or with `leave` leaves
    // the menus; false when the window has no menu bar.
    static bool toggleMenus(bool leave);
    // The keys of a menu, on a command of the bar selected from the
    // keyboard; false when the key is not one of them.
    static bool workBarCommand(QMenuBar &bar, QAction &command, const QKeyEvent &key);

    // Alt is down and nothing else has happened since it went down.
    bool altAlone_ = false;
    // A menu was selected when Alt went down: its release leaves the menus.
    // Some styles close the menus on the press already.
    bool leaveOnAlt_ = false;
    // The menus were selected from the keyboard and the mouse has not been
    // on the bar since: a command the pointer merely rests on is not chosen
    // by Enter.
    bool selectedByKey_ = false;
};

} // namespace terralume::ui
