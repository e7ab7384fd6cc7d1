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
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
// Without a display Qt's X11 platform ends the process with a fatal message
// and abort(), as if the program had crashed. A start with no display is
// told in one line and ends with 1 instead: first when no display is named
// at all, then, while the application object is made, when the named X
// display does not answer.
[[noreturn]] void failDisplay(const QByteArray &why)
{
    std::fprintf(stderr, "terralume: cannot open a display: %s\n", why.constData());
    // Nothing of Qt's half-made platform may run on the way out.
    std::_Exit(1);
}

// Ends the process when the default or the X11 platform is to run and no
// display is named for it. In a Wayland session Qt tries the session's
// default display, which needs no name, so it is left to try.
void requireNamedDisplay(int argc, char **argv)
{
    // The platform Qt will use: -platform first, then QT_QPA_PLATFORM.
    QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            platform = argv[i + 1];
    const QByteArray name = platform.split(':').constFirst();
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || (!name.isEmpty() && name != "xcb"))
        return;
    if (name == "xcb")
        failDisplay("DISPLAY is not set");
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qgetenv("XDG_SESSION_TYPE") != "wayland")
        failDisplay("neither DISPLAY nor WAYLAND_DISPLAY is set");
}

// While the application object is made, Qt's platform messages are held
// back: when the X display does not answer, Qt's own fatal message ends the
// process through failDisplay() instead; otherwise they are passed on as
// they came, by releasePlatformMessages().
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QtMessageHandler previousHandler = nullptr;
std::vector<HeldMessage> heldMessages;
bool displayUnreachable = false;

void holdPlatformMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const bool platform = context.category != nullptr && std::strncmp(context.category, "qt.qpa.", 7) == 0;
    if (platform && text.startsWith(QLatin1String("could not connect to display")))
        displayUnreachable = true;
    if (type == QtFatalMsg && displayUnreachable) {
        const QByteArray display = qgetenv("DISPLAY");
        failDisplay(display.isEmpty() ? QByteArray("DISPLAY is not set")
                                      : "the display \"" + display + "\" does not answer");
    }
    if (platform && type != QtFatalMsg) {
        heldMessages.push_back(HeldMessage{type, context.category, text});
        return;
    }
    previousHandler(type, context, text);
}

void releasePlatformMessages()
{
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage &message : heldMessages)
        previousHandler(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                        message.text);
    heldMessages.clear();
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    using namespace terralume;
    // Qt's window-system connection takes the launcher's activation token out
    // of the environment while the application starts, so it is read first,
    // for a second start to pass on.
    const QString launchToken = InstanceGuard::activationTokenFromEnvironment();
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    requireNamedDisplay(argc, argv);
#endif
    // Qt starts threads of its own for the window system and the desktop bus,
    // and waits for each to run: where none can be started it waits for ever,
    // so the program says so and ends before asking.
    constexpr int kThreadsNeeded = 3;
    std::string noThread;
    auto threadsRefused = [&noThread] {
        std::fprintf(stderr, "terralume: cannot start the threads it draws its windows with: %s\n", noThread.c_str());
        return 1;
    };
    if (startableThreads(kThreadsNeeded, noThread) < kThreadsNeeded)
        return threadsRefused();
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    previousHandler = qInstallMessageHandler(&holdPlatformMessages);
#endif
    ui::TerralumeApplication application(argc, argv);
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    releasePlatformMessages();
#endif
    ui::TerralumeApplication::setApplicationName(QStringLiteral("Terralume"));
    // The desktop finds the launcher entry, and with it the icon, of a window
    // by this name.
    ui::TerralumeApplication::setDesktopFileName(QStringLiteral("org.example.terralume"));

    // A second start creates no window: it asks the running instance to come
    // forward, waits (a bounded time) until that was handled, and ends.
    InstanceGuard guard;
    switch (guard.claim(InstanceGuard::kAnswerBound, launchToken)) {
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
    if (reserveThreads(*QThreadPool::globalInstance(), noThread) == 0)
        return threadsRefused();

    ui::TerralumeApplication::setWindowIcon(programIcon());

    ui::ProgramWindows windows;
    QObject::connect(&guard, &InstanceGuard::activationRequested, &windows.World1,
                     [&windows](const QString &token) { bringToFront(&windows.World1, token); });

    windows.World1.show();
    ui::TerralumeApplication::exec();
    return 0;
}
