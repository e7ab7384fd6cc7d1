#pragma once
// What the single-instance guard does each system's own way: the key that
// names one instance, the lock, and the channel's address. One file per
// system (InstanceGuardPosix.cpp, InstanceGuardWindows.cpp); the channel and
// the claim are shared (InstanceGuard.cpp).

#include <QString>
#include <QtGlobal>

#include <memory>

class QLocalSocket;

namespace terralume::guard {

// The lock that the running instance holds, given up when it ends however
// it ends.
class Lock {
public:
    enum class State { Taken, HeldElsewhere, Failed };
    virtual ~Lock() = default;
    virtual State take(QString *why) = 0;
};

// Where one instance keeps its lock and channel, for this user and display
// (on Windows: logon session). Whatever it holds open stays open while it
// lives.
class Place {
public:
    // Nothing, with the reason in *why, when the guard cannot be set up.
    static std::unique_ptr<Place> find(QString *why);
    virtual ~Place() = default;

    virtual std::unique_ptr<Lock> lock() const = 0;
    // What stands where the channel belongs, in words; empty when nothing does.
    virtual QString blocked() const = 0;

    QString folder;    // named when the lock cannot be taken
    QString address;   // the channel's; empty when none can be made
    QString noAddress; // why there is none
};

// Makes `folder` this user's private folder, or says why it is not one.
QString makePrivate(const QString &folder);

// Lets the running instance at the far end of `socket` take the foreground,
// where the system asks for that; its process id, or 0.
qint64 letComeForward(QLocalSocket &socket);

} // namespace terralume::guard
