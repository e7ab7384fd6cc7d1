#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace terralume {

// One running instance per user and display. The first start takes a lock
// in a private runtime folder and listens on a local socket next to it; a
// later start finds the lock taken, hands its launcher's activation token to
// the running instance and waits until that instance has dealt with it.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Primary,    // this process is the running instance; carry on starting
        Forwarded,  // another instance runs and has handled the request
        NoAnswer,   // another instance runs but did not answer in time
        Unguarded,  // the guard could not be set up; start without it
    };

    // Longest an activation token may be; launchers hand out short ones.
    static constexpr int MaxTokenLength = 512;

    explicit InstanceGuard(QObject *parent = nullptr);
    ~InstanceGuard() override;

    // Call once, after the application object exists and before any window.
    // answerBound caps how long a second start waits for the running one.
    Outcome claim(std::chrono::milliseconds answerBound = std::chrono::seconds(10));

    // Why claim() ended in NoAnswer or Unguarded; empty otherwise.
    QString errorString() const { return m_error; }

    // The private folder that holds the lock and the socket, with a reason
    // in *why when it does not exist or cannot be trusted.
    static QString privateFolder(QString *why = nullptr);

    // The token a launcher gave this process (Wayland first, then X11).
    static QString activationTokenFromEnvironment();

    // Server-side limits; exposed so that tests can reason about them.
    static constexpr std::chrono::milliseconds RequestDeadline{2000};
    static constexpr int MaxConnections = 64;

signals:
    // Emitted on the thread that called claim(), once per request; the
    // second start is released only after the connected slots returned.
    void activationRequested(const QString &token);

private:
    class Lock;

    Outcome forward(const QString &address, std::chrono::milliseconds bound);
    bool listen(const QString &address);
    void acceptPending();
    void readRequest(QLocalSocket *socket);

    std::unique_ptr<Lock> m_lock;
    QLocalServer *m_server = nullptr;
    int m_folderFd = -1;  // keeps the socket reachable however deep the folder
    QString m_error;
};

// The wire format between two starts, kept apart so that both halves and
// the tests agree on it.
namespace guardwire {
inline constexpr char Magic[4] = {'T', 'L', 'M', 'G'};
inline constexpr quint8 Version = 1;
inline constexpr int HeaderSize = 4 + 1 + 2;  // magic, version, token length
inline constexpr quint8 Handled = 1;          // acknowledgement status
QByteArray encodeRequest(const QString &token);
}  // namespace guardwire

}  // namespace terralume
