#include "TerralumeApplication.h"

#include <QMessageBox>

#include <exception>
#include <new>

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
    // The message quotes what the user typed; it is text, never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

TerralumeApplication::TerralumeApplication(int &argc, char **argv) : QApplication(argc, argv) {}

void reportError(std::exception_ptr error)
{
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc &) {
        message = QStringLiteral("Out of memory");
    } catch (const std::exception &failure) {
        message = QString::fromUtf8(failure.what());
    } catch (...) {
        message = QStringLiteral("Unexpected error");
    }
    // The box runs its own event loop, so it is shown outside the handler.
    showErrorBox(message);
}

bool TerralumeApplication::notify(QObject *receiver, QEvent *event)
{
    std::exception_ptr failure;
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        failure = std::current_exception();
    }
    reportError(failure);
    return false;
}

} // namespace terralume::ui
