#include "InstanceGuard.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace terralume {

namespace {

constexpr int AnswerSize = 4 + 1 + 1;  // magic, version, status
constexpr int MaxRequestSize = guardwire::HeaderSize + InstanceGuard::MaxTokenLength;

// Tokens travel into another process's environment, so only plain
// printable ASCII is passed on; anything else is dropped, not repaired.
bool isPlainToken(const QByteArray &bytes)
{
    if (bytes.size() > InstanceGuard::MaxTokenLength)
        return false;
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

// One instance per user and display: the display name becomes part of the
// lock and socket names, reduced to characters that are safe in a file name.
QString displayKey()
{
    QString kind = QStringLiteral("wayland");
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty()) {
        kind = QStringLiteral("x11");
        display = qEnvironmentVariable("DISPLAY");
        // ":0" and ":0.1" are two screens of one display.
        const int colon = display.lastIndexOf(QLatin1Char(':'));
        const int dot = display.lastIndexOf(QLatin1Char('.'));
        if (colon >= 0 && dot > colon)
            display.truncate(dot);
    }
    if (display.isEmpty())
        return QStringLiteral("console");
    QString key = kind + QLatin1Char('-');
    for (const QChar c : display)
        key += (c.isLetterOrNumber() && c.unicode() < 0x80) ? c : QLatin1Char('_');
    // Socket paths are short on Unix; a long display path is hashed instead.
    if (key.size() > 40)
        key = kind + QLatin1Char('-') +
              QString::fromLatin1(QCryptographicHash::hash(display.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    return key;
}

void dropConnection(QLocalSocket *socket)
{
    socket->abort();
    socket->deleteLater();
}

}  // namespace

QByteArray guardwire::encodeRequest(const QString &token)
{
    QByteArray bytes = token.toLatin1();
    if (!isPlainToken(bytes) || bytes != token.toUtf8())
        bytes.clear();
    QByteArray request(Magic, sizeof Magic);
    request.append(char(Version));
    quint16 length = qToBigEndian(quint16(bytes.size()));
    request.append(reinterpret_cast<const char *>(&length), sizeof length);
    request.append(bytes);
    return request;
}

InstanceGuard::InstanceGuard(QObject *parent) : QObject(parent) {}

InstanceGuard::~InstanceGuard()
{
    // Close the channel before the lock goes, so that the next instance
    // never finds our socket in use while it already holds the lock.
    delete m_server;
    m_server = nullptr;
    m_lock.reset();
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
        return refuse(QStringLiteral("cannot inspect %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
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
    m_error.clear();
    QString why;
    const QString folder = privateFolder(&why);
    if (folder.isEmpty()) {
        m_error = why;
        return Outcome::Unguarded;
    }
    const QString stem = QDir(folder).filePath(QStringLiteral("Terralume-") + displayKey());
    const QString socketPath = stem + QStringLiteral(".socket");

    const QDeadlineTimer deadline(answerBound);
    for (;;) {
        auto lock = std::make_unique<QLockFile>(stem + QStringLiteral(".lock"));
        // Only a live holder counts: a crashed or killed instance must never
        // keep the next start out, however recently it died.
        lock->setStaleLockTime(0);
        if (lock->tryLock(0)) {
            m_lock = std::move(lock);
            if (!listen(socketPath))
                m_error = QStringLiteral("the running instance cannot be reached: ") + m_error;
            return Outcome::Primary;
        }
        if (lock->error() != QLockFile::LockFailedError) {
            m_error = QStringLiteral("cannot take the lock in %1").arg(folder);
            return Outcome::Unguarded;
        }
        lock.reset();

        const Outcome outcome = forward(socketPath, std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
        if (outcome == Outcome::NoAnswer)
            m_error = QStringLiteral("the running instance did not answer within %1 ms").arg(answerBound.count());
        if (outcome != Outcome::Unguarded)
            return outcome;
        // No channel yet (the holder is still starting) or it went away
        // (then the lock is free on the next round).
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("the running instance could not be reached");
            return Outcome::NoAnswer;
        }
        QThread::msleep(20);
    }
}

// Returns Unguarded when no conversation took place, so that the caller
// tries the lock again.
InstanceGuard::Outcome InstanceGuard::forward(const QString &socketPath, std::chrono::milliseconds bound)
{
    const QDeadlineTimer deadline(bound);
    auto remaining = [&deadline] { return int(std::max<qint64>(0, deadline.remainingTime())); };

    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(remaining()))
        return Outcome::Unguarded;
    socket.write(guardwire::encodeRequest(activationTokenFromEnvironment()));

    QByteArray answer;
    while (answer.size() < AnswerSize && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(remaining())) {
            if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
                break;
            continue;
        }
        answer += socket.read(AnswerSize - answer.size());
    }
    const QByteArray expected = QByteArray(guardwire::Magic, sizeof guardwire::Magic) + char(guardwire::Version) +
                                char(guardwire::Handled);
    if (answer == expected)
        return Outcome::Forwarded;
    if (socket.state() == QLocalSocket::ConnectedState)
        return Outcome::NoAnswer;
    return Outcome::Unguarded;
}

bool InstanceGuard::listen(const QString &socketPath)
{
    // We hold the lock, so a socket file left here belongs to a dead
    // instance and would only make listen() fail.
    QLocalServer::removeServer(socketPath);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(MaxConnections);
    m_server->setListenBacklogSize(MaxConnections);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceGuard::acceptPending);
    if (!m_server->listen(socketPath)) {
        m_error = m_server->errorString();
        delete m_server;
        m_server = nullptr;
        return false;
    }
    return true;
}

void InstanceGuard::acceptPending()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        // Sockets still open are children of the server; a flood beyond the
        // limit is turned away instead of piling up.
        const auto open = m_server->findChildren<QLocalSocket *>(QString(), Qt::FindDirectChildrenOnly).size();
        if (open > MaxConnections) {
            dropConnection(socket);
            continue;
        }
        auto *deadline = new QTimer(socket);
        deadline->setObjectName(QStringLiteral("requestDeadline"));
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, [socket] { dropConnection(socket); });
        deadline->start(RequestDeadline);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readRequest(socket);
    }
}

void InstanceGuard::readRequest(QLocalSocket *socket)
{
    if (socket->property("handled").toBool())
        return;
    QByteArray pending = socket->property("pending").toByteArray();
    // Never take in more than one request can hold, plus one byte to notice excess.
    pending += socket->read(MaxRequestSize + 1 - pending.size());

    const QByteArray magic(guardwire::Magic, sizeof guardwire::Magic);
    const qsizetype prefix = std::min<qsizetype>(pending.size(), magic.size());
    if (pending.size() > MaxRequestSize || pending.left(prefix) != magic.left(prefix) ||
        (pending.size() > 4 && quint8(pending.at(4)) != guardwire::Version)) {
        dropConnection(socket);
        return;
    }
    if (pending.size() < guardwire::HeaderSize) {
        socket->setProperty("pending", pending);
        return;
    }
    const int length = qFromBigEndian<quint16>(pending.constData() + 5);
    if (length > MaxTokenLength) {
        dropConnection(socket);
        return;
    }
    if (pending.size() < guardwire::HeaderSize + length) {
        socket->setProperty("pending", pending);
        return;
    }
    const QByteArray token = pending.mid(guardwire::HeaderSize);
    if (pending.size() > guardwire::HeaderSize + length || socket->bytesAvailable() > 0 || !isPlainToken(token)) {
        dropConnection(socket);
        return;
    }

    socket->setProperty("handled", true);
    socket->setProperty("pending", QVariant());
    if (auto *deadline = socket->findChild<QTimer *>(QStringLiteral("requestDeadline")))
        deadline->stop();

    // The handler may open a nested event loop in which the peer goes away.
    const QPointer<QLocalSocket> guard(socket);
    emit activationRequested(QString::fromLatin1(token));
    if (!guard || guard->state() != QLocalSocket::ConnectedState)
        return;
    QByteArray answer = magic;
    answer.append(char(guardwire::Version));
    answer.append(char(guardwire::Handled));
    guard->write(answer);
    guard->disconnectFromServer();
}

}  // namespace terralume
