#pragma once
// The application object, and with it the one place where an error that
// escapes an event handler ends: it is shown in the error box and the
// program carries on with its windows as they were.

#include <QApplication>
#include <QString>

namespace terralume::ui {

// The message as the error box shows it: a full stop is added when the
// message is not empty and its last character comes after the full stop
// (letters and digits do; ".", " ", "!" and ")" do not).
QString errorBoxText(const QString &message);

// Shows the error box: caption "Terralume", stop icon, OK.
void showErrorBox(const QString &message);

class TerralumeApplication : public QApplication {
    Q_OBJECT
public:
    TerralumeApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace terralume::ui
