// A window-less stand-in for the program's start-up, used by the guard
// tests: it claims the instance exactly as the program does and reports on
// stdout what happened, one line per event.
#include "InstanceGuard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <cstdio>

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

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The program's title is not its file name; the guard must not care.
    QCoreApplication::setApplicationName(QStringLiteral("Terralume"));
    const QStringList args = app.arguments();
    const int busyAtStart = option(args, QStringLiteral("--busy-start"), 0);
    const int busyInHandler = option(args, QStringLiteral("--busy-handler"), 0);
    const int waitMs = option(args, QStringLiteral("--wait-ms"), 10000);

    terralume::InstanceGuard guard;
    switch (guard.claim(std::chrono::milliseconds(waitMs))) {
    case terralume::InstanceGuard::Outcome::Forwarded:
        say(QStringLiteral("forwarded"));
        return 0;
    case terralume::InstanceGuard::Outcome::NoAnswer:
        say(QStringLiteral("no-answer"));
        std::fprintf(stderr, "Terralume: %s\n", qPrintable(guard.errorString()));
        return 0;
    case terralume::InstanceGuard::Outcome::Unguarded:
        say(QStringLiteral("unguarded: ") + guard.errorString());
        break;
    case terralume::InstanceGuard::Outcome::Primary:
        say(QStringLiteral("primary ") + QString::number(QCoreApplication::applicationPid()));
        break;
    }

    QObject::connect(&guard, &terralume::InstanceGuard::activationRequested, &app, [busyInHandler](const QString &token) {
        say(QStringLiteral("activation-begin ") + token);
        busyFor(busyInHandler * 1000);
        say(QStringLiteral("activation-end"));
    });
    if (busyAtStart > 0)
        QTimer::singleShot(0, &app, [busyAtStart] {
            say(QStringLiteral("busy"));
            busyFor(busyAtStart * 1000);
            say(QStringLiteral("idle"));
        });
    return app.exec();
}
