#include "GuardPlatform.h"

#include "WindowsError.h"

#include <QLocalSocket>

#include <qt_windows.h>
#include <sddl.h>

#include <vector>

namespace terralume::guard {

namespace {

QString windowsMessage(DWORD code)
{
    const QString message = windowsErrorText(code);
    return message.isEmpty() ? QString::number(code) : message;
}

// One instance per user and logon session: the user's SID and the session
// id name the lock and the pipe. A mutex in the session's own namespace
// would suffice for the lock, but pipe names are machine-wide, and two
// users, or one user in two sessions, must not reach each other's instance.
QString sessionKey(QString *why)
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        *why = QStringLiteral("cannot tell the logon session: ") + windowsMessage(GetLastError());
        return QString();
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        *why = QStringLiteral("cannot tell the user: ") + windowsMessage(GetLastError());
        return QString();
    }
    QString sid;
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    std::vector<BYTE> user(needed);
    wchar_t *text = nullptr;
    if (needed > 0 && GetTokenInformation(token, TokenUser, user.data(), needed, &needed) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid, &text)) {
        sid = QString::fromWCharArray(text);
        LocalFree(text);
    } else {
        *why = QStringLiteral("cannot tell the user: ") + windowsMessage(GetLastError());
    }
    CloseHandle(token);
    return sid.isEmpty() ? QString() : sid + QLatin1Char('-') + QString::number(session);
}

} // namespace

// The lock is a named kernel object and the channel a named pipe; no folder
// holds either, and nothing can stand in the pipe's place.
bool find(Place &place, QString *why)
{
    // Every instance also holds a mutex of the program's plain name, the one
    // sign of a running Terralume that its installer and uninstaller can see
    // without knowing the user or session; the guard never takes it.
    if (HANDLE running = CreateMutexW(nullptr, FALSE, L"Terralume"))
        place.held = std::shared_ptr<void>(running, CloseHandle);
    const QString key = sessionKey(why);
    if (key.isEmpty())
        return false;
    place.folder = QStringLiteral("Local\\");
    place.lockName = place.folder + QStringLiteral("Terralume-") + key;
    place.address = QStringLiteral("Terralume-") + key;
    return true;
}

QString blocked(const Place &) { return QString(); }

// A mutex of the session's namespace, owned while the instance runs. Windows
// hands it on as abandoned when its owner dies, however it dies, and the
// next start then takes it.
Lock take(const Place &place, std::shared_ptr<void> &holder, QString *why)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(place.lockName.utf16()));
    if (mutex == nullptr) {
        *why = windowsMessage(GetLastError());
        return Lock::Failed;
    }
    switch (WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        holder = std::shared_ptr<void>(mutex, [](HANDLE owned) {
            ReleaseMutex(owned);
            CloseHandle(owned);
        });
        return Lock::Taken;
    case WAIT_TIMEOUT:
        CloseHandle(mutex);
        return Lock::HeldElsewhere;
    default:
        *why = windowsMessage(GetLastError());
        CloseHandle(mutex);
        return Lock::Failed;
    }
}

// Windows lets a process take the foreground only when the one in front
// allows it: this start, which the user just launched, lets the running
// instance do so before asking it to come forward.
qint64 letComeForward(QLocalSocket &socket)
{
    ULONG server = 0;
    if (!GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(socket.socketDescriptor()), &server))
        return 0;
    AllowSetForegroundWindow(server);
    return server;
}

} // namespace terralume::guard
