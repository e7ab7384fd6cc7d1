#include "InstanceGuard.h"

#include "GuardPlatform.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <list>

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

InstanceGuard::~InstanceGuard() = default;

QString InstanceGuard::activationTokenFromEnvironment()
{
    for (const char *name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        const QByteArray value = qgetenv(name);
        if (!value.isEmpty() && isPlainToken(value))
            return QString::fromLatin1(value);
    }
    return QString();
}

InstanceGuard::Outcome InstanceGuard::claim(std::chrono::milliseconds answerBound, const QString &token)
{
    error_.clear();
    runningInstance_ = 0;
    QString why;
    place_ = std::make_unique<guard::Place>();
    if (!guard::find(*place_, &why)) {
        error_ = why;
        return Outcome::Unguarded;
    }
    const QString &address = place_->address;

    const QDeadlineTimer deadline(answerBound);
    for (;;) {
        QString failure;
        const guard::Lock lock = guard::take(*place_, lock_, &failure);
        if (lock == guard::Lock::Failed) {
            error_ = QStringLiteral("cannot take the lock in %1: %2").arg(place_->folder, failure);
            return Outcome::Unguarded;
        }
        error_ = address.isEmpty() ? place_->noAddress : guard::blocked(*place_);
        if (lock == guard::Lock::Taken) {
            if (error_.isEmpty()) {
                channel_ = std::make_unique<Channel>(this);
                if (!channel_->listen(address, &failure))
                    error_ = QStringLiteral("the running instance cannot be reached: ") + failure;
            }
            return Outcome::Primary;
        }
        // The running instance has no channel either; waiting would not help.
        if (!error_.isEmpty())
            return Outcome::NoAnswer;

        const Outcome outcome =
            forward(address, token, std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
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
InstanceGuard::Outcome InstanceGuard::forward(const QString &address, const QString &token,
                                              std::chrono::milliseconds bound)
{
    const QDeadlineTimer deadline(bound);
    auto remaining = [&deadline] { return int(std::max<qint64>(0, deadline.remainingTime())); };

    QLocalSocket socket;
    socket.connectToServer(address);
    if (!socket.waitForConnected(remaining()))
        return Outcome::Unguarded;
    if (const qint64 server = guard::letComeForward(socket))
        runningInstance_ = server;
    socket.write(guardwire::encodeRequest(token));

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
