// The program: one instance per user and display, the three windows created
// once in order (settings, map, about), then the message loop until the
// settings window closes.
#include "Assets.h"
#include "ImageThreads.h"
#include "InstanceGuard.h"
#include "ProgramWindows.h"
#include "TerralumeApplication.h"
#include "WindowActivation.h"

#include <QObject>
#include <QThreadPool>

#include <QByteArray>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The launcher's activation token. Qt's window-system connection takes it out
// of the environment while the application starts, so it is read first and,
// for a second start, handed back for the guard to pass on.
class LaunchToken {
public:
    LaunchToken()
    {
        for (const char *name : kNames)
            values_.push_back(qgetenv(name));
    }
    // Puts back what the application took, for the guard to read.
    void restore()
    {
        for (std::size_t k = 0; k < values_.size(); ++k)
            restored_.push_back(!values_[k].isEmpty() && !qEnvironmentVariableIsSet(kNames[k]) &&
                                qputenv(kNames[k], values_[k]));
    }
    // Takes it out again: the running instance has used its token already,
    // and programs it opens later must not inherit a stale one.
    void forget() const
    {
        for (std::size_t k = 0; k < restored_.size(); ++k)
            if (restored_[k])
                qunsetenv(kNames[k]);
    }

private:
    static constexpr const char *kNames[] = {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"};
    std::vector<QByteArray> values_;
    std::vector<bool> restored_;
};

} // namespace

int main(int argc, char *argv[])
{
    using namespace terralume;
    LaunchToken launchToken;
    // Qt starts threads of its own for the window system and the desktop bus,
    // and waits for each to run: where none can be started it waits for ever,
    // so the program says so and ends before asking.
    constexpr int kThreadsNeeded = 3;
    std::string noThread;
    if (startableThreads(kThreadsNeeded, noThread) < kThreadsNeeded) {
        std::fprintf(stderr, "terralume: cannot start the threads it draws its windows with: %s\n", noThread.c_str());
        return 1;
    }
    ui::TerralumeApplication application(argc, argv);
    ui::TerralumeApplication::setApplicationName(QStringLiteral("Terralume"));
    // The desktop finds the launcher entry, and with it the icon, of a window
    // by this name.
    ui::TerralumeApplication::setDesktopFileName(QStringLiteral("org.example.terralume"));

    // A second start creates no window: it asks the running instance to come
    // forward, waits (a bounded time) until that was handled, and ends.
    InstanceGuard guard;
    launchToken.restore();
    const InstanceGuard::Outcome outcome = guard.claim();
    launchToken.forget();
    switch (outcome) {
    case InstanceGuard::Outcome::Forwarded:
        return 0;
    case InstanceGuard::Outcome::NoAnswer:
        std::fprintf(stderr, "terralume: %s\n", qPrintable(guard.errorString()));
        return 0;
    case InstanceGuard::Outcome::Unguarded:
        std::fprintf(stderr, "terralume: starting without the single-instance guard: %s\n",
                     qPrintable(guard.errorString()));
        break;
    case InstanceGuard::Outcome::Primary:
        // Running, but a later start will not reach this one (say why).
        if (!guard.errorString().isEmpty())
            std::fprintf(stderr, "terralume: %s\n", qPrintable(guard.errorString()));
        break;
    }

    // Painting hands large fills to Qt's thread pool and waits for them: its
    // threads are had now, while the system still grants them, or never.
    if (reserveThreads(*QThreadPool::globalInstance(), noThread) == 0) {
        std::fprintf(stderr, "terralume: cannot start the threads it draws its windows with: %s\n", noThread.c_str());
        return 1;
    }

    ui::TerralumeApplication::setWindowIcon(programIcon());

    ui::ProgramWindows windows;
    QObject::connect(&guard, &InstanceGuard::activationRequested, &windows.World1,
                     [&windows](const QString &token) { bringToFront(&windows.World1, token); });

    windows.World1.show();
    ui::TerralumeApplication::exec();
    return 0;
}
