#include "MenuBarKeys.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace terralume::ui {

bool MenuBarKeys::eventFilter(QObject *watched, QEvent *event)
{
    // A key reaches the window before the widget that has the keys, and
    // then each parent in turn; the widget is the first widget to see it.
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    const auto *key = static_cast<const QKeyEvent *>(event);
    // Shift+F10 is the context menu's.
    if (key->key() != Qt::Key_F10 || (key->modifiers() & ~Qt::KeypadModifier))
        return false;
    // Held down, F10 does not open and close the menus over and over.
    if (key->isAutoRepeat())
        return true;
    // The menu bar learns of Alt from the shortcut check before the press.
    QKeyEvent check(QEvent::ShortcutOverride, Qt::Key_Alt, Qt::AltModifier);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
    for (QKeyEvent *alt : {&check, &press, &release})
        QCoreApplication::sendEvent(watched, alt);
    return true;
}

} // namespace terralume::ui
