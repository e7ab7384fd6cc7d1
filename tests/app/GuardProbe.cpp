// A window-less stand-in for the program's start-up, used by the guard
// tests: it claims the instance exactly as the program does and reports on
// stdout what happened, one line per event.
#include "InstanceGuard.h"
#include "WindowActivation.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

void say(const QString &line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// Holds the thread the way a long map generation would.
void busyFor(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
    }
}

int option(const QStringList &args, const QString &name, int fallback)
{
    const auto at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
}

// With --window the probe has a main window (and with --modal a modal
// dialog over it) and reports how they stand after a second start.
QString windowReport(const QWidget &main)
{
    const QWidget *active = QApplication::activeWindow();
    return QStringLiteral("window minimized=%1 visible=%2 active=%3")
        .arg(int(main.isMinimized()))
        .arg(int(main.isVisible()))
        .arg(active ? active->objectName() : QStringLiteral("none"));
}

} // namespace

int main(int argc, char **argv)
{
    bool windowed = false;
    for (int i = 1; i < argc; ++i)
        windowed = windowed || QByteArray(argv[i]) == "--window";
    const std::unique_ptr<QCoreApplication> app(windowed ? new QApplication(argc, argv)
                                                         : new QCoreApplication(argc, argv));
    // The program's title is not its file name; the guard must not care.
    QCoreApplication::setApplicationName(QStringLiteral("Terralume"));
    const QStringList args = app->arguments();
    const int busyAtStart = option(args, QStringLiteral("--busy-start"), 0);
    const int busyInHandler = option(args, QStringLiteral("--busy-handler"), 0);
    const int waitMs = option(args, QStringLiteral("--wait-ms"), 10000);

    terralume::InstanceGuard guard;
    switch (guard.claim(std::chrono::milliseconds(waitMs))) {
    case terralume::InstanceGuard::Outcome::Forwarded:
        // Where the platform names the running instance, so does the probe.
        say(guard.runningInstance() == 0 ? QStringLiteral("forwarded")
                                         : QStringLiteral("forwarded to %1").arg(guard.runningInstance()));
        return 0;
    case terralume::InstanceGuard::Outcome::NoAnswer:
        say(QStringLiteral("no-answer"));
        std::fprintf(stderr, "Terralume: %s\n", qPrintable(guard.errorString()));
        return 0;
    case terralume::InstanceGuard::Outcome::Unguarded:
        say(QStringLiteral("unguarded: ") + guard.errorString());
        break;
    case terralume::InstanceGuard::Outcome::Primary:
        // Running, but unreachable for a later start: the program says why.
        if (!guard.errorString().isEmpty())
            std::fprintf(stderr, "Terralume: %s\n", qPrintable(guard.errorString()));
        say(QStringLiteral("primary ") + QString::number(QCoreApplication::applicationPid()));
        break;
    }

    std::unique_ptr<QWidget> main;
    std::unique_ptr<QDialog> modal;
    if (windowed) {
        main = std::make_unique<QWidget>();
        main->setObjectName(QStringLiteral("main"));
        main->setWindowTitle(QStringLiteral("Terralume probe %1").arg(QCoreApplication::applicationPid()));
        main->resize(300, 200);
        main->show();
        if (args.contains(QStringLiteral("--modal"))) {
            modal = std::make_unique<QDialog>(main.get());
            modal->setObjectName(QStringLiteral("modal"));
            modal->setWindowTitle(QStringLiteral("Terralume probe modal"));
            modal->resize(200, 100);
            modal->open();
        }
        QTimer::singleShot(1000, main.get(), [&main] { say(QStringLiteral("shown ") + windowReport(*main)); });
    }

    QObject::connect(&guard, &terralume::InstanceGuard::activationRequested, app.get(),
                     [busyInHandler, &main](const QString &token) {
                         say(QStringLiteral("activation-begin ") + token);
                         busyFor(busyInHandler * 1000);
                         if (main) {
                             terralume::bringToFront(main.get(), token);
                             QTimer::singleShot(1000, main.get(),
                                                [&main] { say(QStringLiteral("after ") + windowReport(*main)); });
                         }
                         say(QStringLiteral("activation-end"));
                     });
    if (busyAtStart > 0)
        QTimer::singleShot(0, app.get(), [busyAtStart] {
            say(QStringLiteral("busy"));
            busyFor(busyAtStart * 1000);
            say(QStringLiteral("idle"));
        });
    return app->exec();
}
