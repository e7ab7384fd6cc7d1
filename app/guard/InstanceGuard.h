#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

namespace terralume {

namespace guard {
struct Place;
} // namespace guard

// One running instance per user and display (on Windows: per user and logon
// session). The first start takes a lock in a private runtime folder (on
// Windows a named mutex) and listens on a local socket next to it (a named
// pipe); a later start finds the lock taken, hands its launcher's activation
// token to the running instance and waits until that instance has dealt
// with it.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Primary,   // this process is the running instance; carry on starting
        Forwarded, // another instance runs and has handled the request
        NoAnswer,  // another instance runs but did not answer in time
        Unguarded, // the guard could not be set up; start without it
    };

    // Longest an activation token may be; launchers hand out short ones.
    static constexpr int kMaxTokenLength = 512;

    static constexpr std::chrono::milliseconds kAnswerBound{10000};

    explicit InstanceGuard(QObject *parent = nullptr);
    ~InstanceGuard() override;

    // Call once, after the application object exists and before any window.
    // answerBound caps how long a second start waits for the running one,
    // to which it hands `token`, its launcher's.
    Outcome claim(std::chrono::milliseconds answerBound = kAnswerBound,
                  const QString &token = activationTokenFromEnvironment());

    // Why claim() ended in NoAnswer or Unguarded; empty otherwise.
    QString errorString() const { return error_; }

    // The process id of the running instance a request went to, where the
    // platform tells it (Windows, which needs it to hand over the
    // foreground); 0 otherwise.
    qint64 runningInstance() const { return runningInstance_; }

    // The token a launcher gave this process (Wayland first, then X11).
    static QString activationTokenFromEnvironment();

    // Server-side limits; exposed so that tests can reason about them.
    static constexpr std::chrono::milliseconds kRequestDeadline{2000};
    static constexpr int kMaxConnections = 64;

signals:
    // Emitted on the thread that called claim(), once per request; the
    // second start is released only after the connected slots returned.
    void activationRequested(const QString &token);

private:
    class Channel; // the running instance's end: the server and its connections

    Outcome forward(const QString &address, const QString &token, std::chrono::milliseconds bound);

    std::unique_ptr<guard::Place> place_; // where the lock and the channel are, held open
    std::shared_ptr<void> lock_;
    // Declared after lock_ so that it closes first: the next instance never
    // finds our socket in use while it already holds the lock.
    std::unique_ptr<Channel> channel_;
    qint64 runningInstance_ = 0;
    QString error_;
};

// The wire format between two starts, kept apart so that both halves and
// the tests agree on it.
namespace guardwire {
inline constexpr char kMagic[4] = {'T', 'L', 'M', 'G'};
inline constexpr quint8 kVersion = 1;
inline constexpr quint8 kHandled = 1; // acknowledgement status
// Magic, version, big-endian token length, then the token's bytes; a token
// that may not be passed on is sent empty.
QByteArray encodeRequest(const QString &token);
} // namespace guardwire

} // namespace terralume
