#include "MenuBarKeys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace terralume::ui {

namespace {

constexpr Qt::KeyboardModifiers kOtherModifiers = Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier;

bool usable(const QAction &entry) { return entry.isVisible() && entry.isEnabled() && !entry.isSeparator(); }

QAction *firstEntry(const QList<QAction *> &entries)
{
    for (QAction *entry : entries)
        if (usable(*entry))
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
            const bool leave = bar && bar->activeAction();
            const bool toggled = toggleMenus(leave);
            selectedByKey_ = toggled && !leave;
            return toggled;
        }
        QMenuBar *bar = activeMenuBar();
        QAction *command = bar ? bar->activeAction() : nullptr;
        if (!selectedByKey_ || !command || command->menu() || QApplication::activePopupWidget())
            return false;
        return workBarCommand(*bar, *command, *key);
    }
    case QEvent::KeyRelease: {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if (key->key() != Qt::Key_Alt || !altAlone_)
            return false;
        altAlone_ = false;
        const bool toggled = toggleMenus(leaveOnAlt_);
        selectedByKey_ = toggled && !leaveOnAlt_;
        return toggled;
    }
    case QEvent::MouseMove:
        // The pointer on the bar selects what it rests on.
        if (qobject_cast<QMenuBar *>(watched))
            selectedByKey_ = false;
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::WindowDeactivate:
        // Alt+click and Alt+Tab are not a lone Alt.
        altAlone_ = false;
        selectedByKey_ = false;
        return false;
    default:
        return QObject::eventFilter(watched, event);
    }
}

bool MenuBarKeys::workBarCommand(QMenuBar &bar, QAction &command, const QKeyEvent &key)
{
    if (key.modifiers() & (kOtherModifiers | Qt::AltModifier))
        return false;
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        // The bar lets go first: the command may close its window.
        bar.setActiveAction(nullptr);
        command.trigger();
        return true;
    case Qt::Key_Escape:
        bar.setActiveAction(nullptr);
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right: {
        // To the neighbouring entry, round from one end to the other, its
        // menu opened at its first entry as the arrows open the menus.
        const QList<QAction *> entries = bar.actions();
        const int step = (key.key() == Qt::Key_Right) != bar.isRightToLeft() ? 1 : -1;
        const int from = static_cast<int>(entries.indexOf(&command));
        for (int i = 1; i < entries.size(); ++i) {
            QAction *next = entries[(from + step * i + entries.size()) % entries.size()];
            if (!usable(*next))
                continue;
            bar.setActiveAction(next);
            if (QMenu *menu = next->menu())
                menu->setActiveAction(firstEntry(menu->actions()));
            break;
        }
        return true;
    }
    default:
        return false;
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
    QAction *first = firstEntry(bar->actions());
    if (!first)
        return false;
    bar->setActiveAction(first);
    return true;
}

} // namespace terralume::ui
