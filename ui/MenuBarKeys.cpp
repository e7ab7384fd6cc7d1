#include "MenuBarKeys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenuBar>

namespace terralume::ui {

namespace {

constexpr Qt::KeyboardModifiers kOtherModifiers = Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier;

QAction *firstEntry(const QMenuBar &bar)
{
    for (QAction *entry : bar.actions())
        if (entry->isVisible() && entry->isEnabled() && !entry->isSeparator())
            return entry;
    return nullptr;
}

} // namespace

QMenuBar *MenuBarKeys::menuBarOf(const QWidget *window)
{
    if (!window)
        return nullptr;
    // menuBar() would make one for a main window that has none.
    if (const auto *main = qobject_cast<const QMainWindow *>(window))
        return qobject_cast<QMenuBar *>(main->menuWidget());
    return window->findChild<QMenuBar *>(QString(), Qt::FindDirectChildrenOnly);
}

bool MenuBarKeys::eventFilter(QObject *watched, QEvent *event)
{
    // A key event reaches this filter once for each widget it is offered
    // to on its way up to the window; what is done here is the same each time.
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Styles that have Alt work the menu bar themselves (Fusion does)
        // learn of Alt from this event; kept from them, Alt does the same
        // in every style, and they do not undo what is done here.
        return static_cast<const QKeyEvent *>(event)->key() == Qt::Key_Alt;
    case QEvent::KeyPress: {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if (key->key() == Qt::Key_Alt) {
            if (!altAlone_ && !key->isAutoRepeat()) {
                const QMenuBar *bar = activeMenuBar();
                leaveOnAlt_ = bar && bar->activeAction();
            }
            // Alt+Ctrl and the like are chords, not Alt alone.
            altAlone_ = !(key->modifiers() & kOtherModifiers) && (altAlone_ || !key->isAutoRepeat());
            return false;
        }
        altAlone_ = false;
        // Shift+F10 is the context menu's.
        if (key->key() == Qt::Key_F10 && !(key->modifiers() & (kOtherModifiers | Qt::AltModifier))) {
            const QMenuBar *bar = activeMenuBar();
            return toggleMenus(bar && bar->activeAction());
        }
        return false;
    }
    case QEvent::KeyRelease: {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if (key->key() != Qt::Key_Alt || !altAlone_)
            return false;
        altAlone_ = false;
        return toggleMenus(leaveOnAlt_);
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::WindowDeactivate:
        // Alt+click and Alt+Tab are not a lone Alt.
        altAlone_ = false;
        return false;
    default:
        return QObject::eventFilter(watched, event);
    }
}

QMenuBar *MenuBarKeys::activeMenuBar()
{
    QMenuBar *bar = menuBarOf(QApplication::activeWindow());
    return bar && bar->isVisible() ? bar : nullptr;
}

bool MenuBarKeys::toggleMenus(bool leave)
{
    QMenuBar *bar = activeMenuBar();
    if (!bar)
        return false;
    if (leave) {
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        bar->setActiveAction(nullptr);
        return true;
    }
    QAction *first = firstEntry(*bar);
    if (!first)
        return false;
    bar->setActiveAction(first);
    return true;
}

} // namespace terralume::ui
