#include "InstanceGuard.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <sddl.h>

#include <vector>
#endif

namespace terralume {

namespace {

// Tokens travel into another process's environment, so only plain
// printable ASCII is passed on; anything else is dropped, not repaired.
bool isPlainToken(const QByteArray &bytes)
{
    if (bytes.size() > InstanceGuard::kMaxTokenLength)
        return false;
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

#ifndef Q_OS_WIN
QString waylandDisplay()
{
    const QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    // A bare name is looked up in the runtime folder, so the full path of
    // the same socket there is the same display.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo socket(display);
    if (socket.isAbsolute() && !runtime.isEmpty() && QDir::cleanPath(socket.absolutePath()) == QDir::cleanPath(runtime))
        return socket.fileName();
    return display;
}

QString x11Display()
{
    QString display = qEnvironmentVariable("DISPLAY");
    // ":0" and ":0.1" are two screens of one display.
    const int colon = display.lastIndexOf(QLatin1Char(':'));
    const int dot = display.lastIndexOf(QLatin1Char('.'));
    if (colon >= 0 && dot > colon)
        display.truncate(dot);
    // ":71", "unix:71" and ":071" all reach display 71 through its local
    // socket. A host name, even "localhost", means TCP, which can lead to
    // another server (a forwarded display, say), so it stays in the name.
    static const QRegularExpression local(QStringLiteral("^(?:unix)?:(\\d+)$"));
    const QRegularExpressionMatch match = local.match(display);
    bool ok = false;
    const uint number = match.hasMatch() ? match.captured(1).toUInt(&ok) : 0;
    return ok ? QLatin1Char(':') + QString::number(number) : display;
}

#endif

#ifdef Q_OS_WIN
QString windowsMessage(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString::number(code);
    LocalFree(text);
    return message;
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
#endif

#ifndef Q_OS_WIN
// One instance per user and display: the display name becomes part of the
// lock and socket names, reduced to characters that are safe in a file name.
QString displayKey()
{
    QString kind = QStringLiteral("wayland");
    QString display = waylandDisplay();
    if (display.isEmpty()) {
        kind = QStringLiteral("x11");
        display = x11Display();
    }
    if (display.isEmpty())
        return QStringLiteral("console");
    QString key = kind + QLatin1Char('-');
    for (const QChar c : display)
        key += (c.isLetterOrNumber() && c.unicode() < 0x80) ? c : QLatin1Char('_');
    // Socket paths are short on Unix; a long display path is hashed instead.
    if (key.size() > 40)
        key = kind + QLatin1Char('-') +
              QString::fromLatin1(
                  QCryptographicHash::hash(display.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    return key;
}

// Where the socket is bound and reached. A socket address holds a path of
// about a hundred bytes (Qt keeps two of sun_path for itself), which a deep
// runtime folder leaves no room in. The folder is then named through the
// descriptor this process holds on it: the socket stays in the private
// folder, as private as before, whatever the folder's length.
QString channelAddress(const QString &folder, int folderFd, const QString &name)
{
    const QString direct = QDir(folder).filePath(name);
#ifdef Q_OS_UNIX
    constexpr qsizetype room = qsizetype(sizeof(sockaddr_un::sun_path)) - 2;
    if (QFile::encodeName(direct).size() <= room)
        return direct;
    const QString viaDescriptor = QStringLiteral("/proc/self/fd/%1").arg(folderFd);
    if (folderFd < 0 || !QFileInfo(viaDescriptor).isDir())
        return QString();
    const QString address = viaDescriptor + QLatin1Char('/') + name;
    return QFile::encodeName(address).size() <= room ? address : QString();
#else
    Q_UNUSED(folderFd);
    return direct;
#endif
}

// A folder where the socket belongs: it can neither be replaced by the
// running instance's socket nor reached by a later start, and the system's
// reasons for either ("Unknown error 21", a refused connection) do not say
// what is in the way.
QString folderInPlaceOf(const QString &folder, const QString &socketName)
{
    const QString path = QDir(folder).filePath(socketName);
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return QStringLiteral("the running instance cannot be reached: %1 is a folder, not the program's socket")
            .arg(path);
#endif
    return QString();
}

#endif

QByteArray handledAnswer()
{
    return QByteArray(guardwire::kMagic, sizeof guardwire::kMagic) + char(guardwire::kVersion) +
           char(guardwire::kHandled);
}

void dropConnection(QLocalSocket *socket)
{
    socket->abort();
    socket->deleteLater();
}

} // namespace

QByteArray guardwire::encodeRequest(const QString &token)
{
    QByteArray bytes = token.toLatin1();
    if (!isPlainToken(bytes) || bytes != token.toUtf8())
        bytes.clear();
    QByteArray request;
    QDataStream out(&request, QIODevice::WriteOnly);
    out.writeRawData(kMagic, sizeof kMagic);
    out << kVersion << quint16(bytes.size());
    out.writeRawData(bytes.constData(), int(bytes.size()));
    return request;
}

#ifdef Q_OS_UNIX
// A lock that the kernel keeps for this process and drops when it ends,
// however it ends. What the file holds never counts, so nothing a dead start
// left behind (an empty or half-written file, the number of a process long
// gone or now another program's) can keep the next start out. The file is
// never removed: two starts exclude each other only by locking one file.
class InstanceGuard::Lock {
public:
    enum class State { Taken, HeldElsewhere, Failed };

    ~Lock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    State take(const QString &path, QString *why)
    {
        const QByteArray name = QFile::encodeName(path);
        // Non-blocking, so that a pipe left in its place cannot hang the start.
        constexpr int flags = O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
        fd_ = ::open(name.constData(), flags, 0600);
        // Only this user writes in the private folder, so a file that cannot
        // be read is ours: make it readable again. Removing it instead would
        // let a start that opened it a moment ago lock a file nobody else sees.
        if (fd_ < 0 && errno == EACCES && ::chmod(name.constData(), 0600) == 0)
            fd_ = ::open(name.constData(), flags, 0600);
        if (fd_ < 0)
            return fail(why, QString::fromLocal8Bit(std::strerror(errno)));
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))
            return fail(why, QStringLiteral("%1 is not a plain file").arg(path));
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0)
            return State::Taken;
        if (errno == EWOULDBLOCK)
            return State::HeldElsewhere;
        return fail(why, QString::fromLocal8Bit(std::strerror(errno)));
    }

private:
    State fail(QString *why, const QString &reason)
    {
        *why = reason;
        return State::Failed;
    }

    int fd_ = -1;
};
#else
// A mutex of the session's namespace, owned while the instance runs. Windows
// hands it on as abandoned when its owner dies, however it dies, and the
// next start then takes it.
class InstanceGuard::Lock {
public:
    enum class State { Taken, HeldElsewhere, Failed };

    ~Lock()
    {
        if (mutex_ == nullptr)
            return;
        if (owned_)
            ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }

    State take(const QString &name, QString *why)
    {
        mutex_ = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(name.utf16()));
        if (mutex_ == nullptr) {
            *why = windowsMessage(GetLastError());
            return State::Failed;
        }
        switch (WaitForSingleObject(mutex_, 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:
            owned_ = true;
            return State::Taken;
        case WAIT_TIMEOUT:
            return State::HeldElsewhere;
        default:
            *why = windowsMessage(GetLastError());
            return State::Failed;
        }
    }

private:
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
};
#endif

// The running instance's end: one request per connection, read whole before
// it counts, within a deadline, and answered once it was handled.
class InstanceGuard::Channel {
public:
    explicit Channel(InstanceGuard *guard) : guard_(guard) {}

    bool listen(const QString &address, QString *why)
    {
        // We hold the lock, so a socket file left here belongs to a dead
        // instance and would only make listen() fail.
        QLocalServer::removeServer(address);
        server_ = std::make_unique<QLocalServer>(guard_);
        server_->setSocketOptions(QLocalServer::UserAccessOption);
        server_->setMaxPendingConnections(kMaxConnections);
        server_->setListenBacklogSize(kMaxConnections);
        QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] { acceptPending(); });
        *why = server_->listen(address) ? QString() : server_->errorString();
        return why->isEmpty();
    }

private:
    struct Connection {
        explicit Connection(QLocalSocket *peer) : socket(peer), stream(peer) {}
        QLocalSocket *socket;
        QTimer timer;       // cuts off a peer that leaves its request unfinished
        QDataStream stream; // reads in transactions: a partial request stays in the socket
        bool handled = false;
    };

    void acceptPending()
    {
        while (QLocalSocket *socket = server_->nextPendingConnection()) {
            // A flood beyond the limit is turned away instead of piling up.
            if (connections_.size() >= std::size_t(kMaxConnections)) {
                dropConnection(socket);
                continue;
            }
            Connection &connection = connections_.emplace_back(socket);
            QObject::connect(socket, &QObject::destroyed, server_.get(),
                             [this, at = std::prev(connections_.end())] { connections_.erase(at); });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, &connection] { read(connection); });
            QObject::connect(&connection.timer, &QTimer::timeout, socket, [socket] { dropConnection(socket); });
            connection.timer.setSingleShot(true);
            connection.timer.start(kRequestDeadline);
            read(connection);
        }
    }

    void read(Connection &connection)
    {
        if (connection.handled)
            return;
        QDataStream &in = connection.stream;
        in.startTransaction();
        // Each part is judged as soon as it is in, so that a stranger speaking
        // another protocol is cut off at its first wrong byte.
        char magic[sizeof guardwire::kMagic] = {};
        const int got = in.readRawData(magic, sizeof magic);
        bool fits = std::memcmp(magic, guardwire::kMagic, std::max(got, 0)) == 0;
        quint8 version = 0;
        in >> version;
        fits = fits && (in.status() != QDataStream::Ok || version == guardwire::kVersion);
        quint16 length = 0;
        in >> length;
        fits = fits && (in.status() != QDataStream::Ok || length <= kMaxTokenLength);
        QByteArray token(fits ? length : 0, Qt::Uninitialized);
        in.readRawData(token.data(), int(token.size()));
        if (fits && !in.commitTransaction())
            return;
        // One request per connection: anything after it is not ours.
        if (!fits || connection.socket->bytesAvailable() > 0 || !isPlainToken(token)) {
            dropConnection(connection.socket);
            return;
        }
        connection.handled = true;
        connection.timer.stop();
        // The handler may open a nested event loop in which the peer goes
        // away, and the connection with it.
        const QPointer<QLocalSocket> peer(connection.socket);
        emit guard_->activationRequested(QString::fromLatin1(token));
        if (!peer || peer->state() != QLocalSocket::ConnectedState)
            return;
        peer->write(handledAnswer());
        peer->disconnectFromServer();
    }

    InstanceGuard *guard_;
    std::unique_ptr<QLocalServer> server_; // the connections' sockets are its children and go with it
    std::list<Connection> connections_;    // each one lives as long as its socket
};

InstanceGuard::InstanceGuard(QObject *parent) : QObject(parent) {}

InstanceGuard::~InstanceGuard()
{
    // Close the channel before the lock goes, so that the next instance
    // never finds our socket in use while it already holds the lock.
    channel_.reset();
    lock_.reset();
#ifdef Q_OS_UNIX
    if (folderFd_ >= 0)
        ::close(folderFd_);
#endif
}

QString InstanceGuard::privateFolder(QString *why)
{
    auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return QString();
    };
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty())
        return refuse(QStringLiteral("no per-user runtime folder is available"));
    const QString folder = QDir(base).filePath(QStringLiteral("terralume"));
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return refuse(QStringLiteral("cannot create %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    // lstat, not stat: a symbolic link planted in our place is not our folder.
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return refuse(
            QStringLiteral("cannot inspect %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    if (!S_ISDIR(info.st_mode))
        return refuse(QStringLiteral("%1 is not a folder").arg(folder));
    if (info.st_uid != ::geteuid())
        return refuse(QStringLiteral("%1 belongs to another user").arg(folder));
    if ((info.st_mode & 077) != 0)
        return refuse(QStringLiteral("%1 is open to other users (mode %2)")
                          .arg(folder)
                          .arg(info.st_mode & 0777, 3, 8, QLatin1Char('0')));
#else
    if (!QDir().mkpath(folder))
        return refuse(QStringLiteral("cannot create %1").arg(folder));
#endif
    if (why)
        why->clear();
    return folder;
}

QString InstanceGuard::activationTokenFromEnvironment()
{
    for (const char *name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty() && isPlainToken(value))
            return QString::fromLatin1(value);
    }
    return QString();
}

InstanceGuard::Outcome InstanceGuard::claim(std::chrono::milliseconds answerBound)
{
    error_.clear();
    runningInstance_ = 0;
    QString why;
#ifdef Q_OS_WIN
    // The lock is a named kernel object and the channel a named pipe; no
    // folder holds either, and nothing can stand in the pipe's place.
    const auto blocked = [] { return QString(); };
    const QString key = sessionKey(&why);
    if (key.isEmpty()) {
        error_ = why;
        return Outcome::Unguarded;
    }
    const QString folder = QStringLiteral("Local\\");
    const QString lockName = folder + QStringLiteral("Terralume-") + key;
    const QString address = QStringLiteral("Terralume-") + key;
    const QString noAddress;
#else
    const QString folder = privateFolder(&why);
    if (folder.isEmpty()) {
        error_ = why;
        return Outcome::Unguarded;
    }
    const QString stem = QStringLiteral("Terralume-") + displayKey();
#ifdef O_PATH
    folderFd_ = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
#else
    folderFd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
#endif
    const QString lockName = QDir(folder).filePath(stem + QStringLiteral(".lock"));
    const QString address = channelAddress(folder, folderFd_, stem + QStringLiteral(".socket"));
    const QString noAddress = QStringLiteral("the running instance cannot be reached: the path of %1 is too long "
                                             "for a local socket")
                                  .arg(folder);
    const auto blocked = [&folder, &stem] { return folderInPlaceOf(folder, stem + QStringLiteral(".socket")); };
#endif

    const QDeadlineTimer deadline(answerBound);
    for (;;) {
        auto lock = std::make_unique<Lock>();
        QString failure;
        switch (lock->take(lockName, &failure)) {
        case Lock::State::Taken:
            lock_ = std::move(lock);
            error_ = address.isEmpty() ? noAddress : blocked();
            if (error_.isEmpty()) {
                channel_ = std::make_unique<Channel>(this);
                if (!channel_->listen(address, &failure))
                    error_ = QStringLiteral("the running instance cannot be reached: ") + failure;
            }
            return Outcome::Primary;
        case Lock::State::Failed:
            error_ = QStringLiteral("cannot take the lock in %1: %2").arg(folder, failure);
            return Outcome::Unguarded;
        case Lock::State::HeldElsewhere:
            break;
        }
        lock.reset();
        // The running instance has no channel either; waiting would not help.
        if (address.isEmpty()) {
            error_ = noAddress;
            return Outcome::NoAnswer;
        }
        if (error_ = blocked(); !error_.isEmpty())
            return Outcome::NoAnswer;

        const Outcome outcome =
            forward(address, std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
        if (outcome == Outcome::NoAnswer)
            error_ = QStringLiteral("the running instance did not answer within %1 ms").arg(answerBound.count());
        if (outcome != Outcome::Unguarded)
            return outcome;
        // No channel yet (the holder is still starting) or it went away
        // (then the lock is free on the next round).
        if (deadline.hasExpired()) {
            error_ = QStringLiteral("the running instance could not be reached");
            return Outcome::NoAnswer;
        }
        QThread::msleep(20);
    }
}

// Returns Unguarded when no conversation took place, so that the caller
// tries the lock again.
InstanceGuard::Outcome InstanceGuard::forward(const QString &address, std::chrono::milliseconds bound)
{
    const QDeadlineTimer deadline(bound);
    auto remaining = [&deadline] { return int(std::max<qint64>(0, deadline.remainingTime())); };

    QLocalSocket socket;
    socket.connectToServer(address);
    if (!socket.waitForConnected(remaining()))
        return Outcome::Unguarded;
#ifdef Q_OS_WIN
    // Windows lets a process take the foreground only when the one in front
    // allows it: this start, which the user just launched, lets the running
    // instance do so before asking it to come forward.
    ULONG server = 0;
    if (GetNamedPipeServerProcessId(reinterpret_cast<HANDLE>(socket.socketDescriptor()), &server)) {
        runningInstance_ = server;
        AllowSetForegroundWindow(server);
    }
#endif
    socket.write(guardwire::encodeRequest(activationTokenFromEnvironment()));

    const QByteArray expected = handledAnswer();
    QByteArray answer(expected.size(), Qt::Uninitialized);
    QDataStream in(&socket);
    bool complete = false;
    while (!complete) {
        in.startTransaction();
        in.readRawData(answer.data(), int(answer.size()));
        complete = in.commitTransaction();
        if (!complete && (deadline.hasExpired() ||
                          (!socket.waitForReadyRead(remaining()) && socket.state() != QLocalSocket::ConnectedState)))
            break;
    }
    if (complete && answer == expected)
        return Outcome::Forwarded;
    return socket.state() == QLocalSocket::ConnectedState ? Outcome::NoAnswer : Outcome::Unguarded;
}

} // namespace terralume
