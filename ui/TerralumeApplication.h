#pragma once
// The application object, and with it the one place where an error that
// escapes an event handler ends: it is shown in the error box and the
// program carries on with its windows as they were.

#include <QApplication>
#include <QString>

#include <exception>

namespace terralume::ui {

// The message as the error box shows it: a full stop is added when the
// message is not empty and its last character comes after the full stop
// (letters and digits do; ".", " ", "!" and ")" do not).
QString errorBoxText(const QString &message);

// Shows the error box: caption "Terralume", stop icon, OK.
void showErrorBox(const QString &message);

// The one report of an error that no handler dealt with: its message in the
// error box. The program then carries on.
void reportError(std::exception_ptr error);

// A handler made safe to connect to a Qt signal. Qt's own code between a
// signal and its slots is not exception-safe (an error unwinding through it
// leaks and can leave a widget half-updated), so the error is reported at
// this boundary instead, the same way as one that escapes an event handler.
template <class Receiver> auto guarded(Receiver *receiver, void (Receiver::*handler)())
{
    return [receiver, handler] {
        try {
            (receiver->*handler)();
        } catch (...) {
            reportError(std::current_exception());
        }
    };
}

class TerralumeApplication : public QApplication {
    Q_OBJECT
public:
    // Prepares the out-of-memory box while memory is plentiful, and has F10
    // work the menu bars as a lone Alt does.
    TerralumeApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace terralume::ui
