#pragma once
// The application object, and with it the one place where an error that
// escapes an event handler ends: it is shown in the error box and the
// program carries on with its windows as they were.

#include <QApplication>
#include <QString>

#include <exception>
#include <type_traits>

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

// Runs `body` where an error must not unwind further: Qt's code between a
// signal and its slots, and between an event and its handlers and filters,
// is not exception-safe (an error unwinding through it leaks and can leave a
// widget half-updated). The error is reported here instead, the same way as
// one that escapes an event handler, and the result is then the value
// initialised one (false for an event filter: the event goes on).
template <class Body> auto guardedCall(Body &&body) -> std::invoke_result_t<Body &>
{
    try {
        return body();
    } catch (...) {
        reportError(std::current_exception());
    }
    if constexpr (!std::is_void_v<std::invoke_result_t<Body &>>)
        return {};
}

// A handler made safe to connect to a Qt signal.
template <class Receiver> auto guarded(Receiver *receiver, void (Receiver::*handler)())
{
    return [receiver, handler] { guardedCall([&] { (receiver->*handler)(); }); };
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
