#include "TerralumeApplication.h"

#include <QMessageBox>

#include <exception>
#include <new>
#include <optional>

namespace terralume::ui {

namespace {

const QString kApplicationTitle = QStringLiteral("Terralume");

} // namespace

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

void showErrorBox(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, kApplicationTitle, errorBoxText(message), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

TerralumeApplication::TerralumeApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool TerralumeApplication::notify(QObject *receiver, QEvent *event)
{
    std::optional<QString> failure;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc &) {
        failure = QStringLiteral("Out of memory");
    } catch (const std::exception &error) {
        failure = QString::fromUtf8(error.what());
    } catch (...) {
        failure = QStringLiteral("Unexpected error");
    }
    // The box runs its own event loop, so it is shown outside the handler.
    showErrorBox(*failure);
    return false;
}

} // namespace terralume::ui
