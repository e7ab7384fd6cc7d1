#include "SpokenNotice.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace terralume::ui {

namespace {

// The notice is a status bar holding the notification: a screen reader then
// reads the words alone, without naming the notification as such.
QAccessibleInterface *noticeAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(SpokenNotice::staticMetaObject.className()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::StatusBar);
    if (className == QLatin1String("QWidget") && qobject_cast<SpokenNotice *>(object->parent()))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Notification);
    return nullptr;
}

} // namespace

SpokenNotice::SpokenNotice(QWidget *parent) : QWidget(parent), line_(new QWidget(this))
{
    static const bool installed = [] {
        QAccessible::installFactory(noticeAccessible);
        return true;
    }();
    Q_UNUSED(installed);
    for (QWidget *part : {static_cast<QWidget *>(this), line_}) {
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
        part->setFocusPolicy(Qt::NoFocus);
        part->setGeometry(0, 0, 1, 1);
    }
    // Hidden until there is something to say: an empty status bar would
    // still be read with the window.
    line_->hide();
    hide();
    lower();
}

void SpokenNotice::say(const QString &text)
{
    // Shown anew each time: the showing is what is announced.
    line_->hide();
    line_->setAccessibleName(text);
    show();
    line_->show();
}

} // namespace terralume::ui
