#include "MenuBarKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyle>

namespace terralume::ui {

bool MenuBarKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (toggling_ || !watched->isWidgetType())
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        const auto *key = static_cast<const QKeyEvent *>(event);
        const bool alt = key->key() == Qt::Key_Alt && key->modifiers() == Qt::AltModifier &&
                         QApplication::style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation);
        // Only the window system's checks count: a late copy of a press is
        // checked again as it is delivered. An open menu answers Alt
        // itself, by closing.
        if (event->spontaneous())
            altAlone_ = alt && !QApplication::activePopupWidget();
        // Kept from Qt's menu bar, which would answer the Alt itself.
        return alt;
    }
    case QEvent::KeyRelease:
        // The first widget to see the release, or a copy of it, is the one
        // that has the keys.
        if (static_cast<const QKeyEvent *>(event)->key() == Qt::Key_Alt && altAlone_) {
            altAlone_ = false;
            toggleMenus(watched);
        }
        return false;
    // What else happens while Alt is held makes it no lone Alt: the mouse
    // used, the focus moved, a shortcut taken.
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::WindowDeactivate:
    case QEvent::Shortcut:
        altAlone_ = false;
        return false;
    case QEvent::KeyPress: {
        const auto *key = static_cast<const QKeyEvent *>(event);
        // Shift+F10 is the context menu's.
        if (key->key() != Qt::Key_F10 || (key->modifiers() & ~Qt::KeypadModifier))
            return false;
        // Held down, F10 does not open and close the menus over and over.
        if (!key->isAutoRepeat())
            toggleMenus(watched);
        return true;
    }
    default:
        return false;
    }
}

void MenuBarKeys::toggleMenus(QObject *keyReceiver)
{
    // The menu bar learns of Alt from the shortcut check before the press,
    // and answers the release.
    QKeyEvent check(QEvent::ShortcutOverride, Qt::Key_Alt, Qt::AltModifier);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
    toggling_ = true;
    for (QKeyEvent *alt : {&check, &press, &release})
        QCoreApplication::sendEvent(keyReceiver, alt);
    toggling_ = false;
}

} // namespace terralume::ui
