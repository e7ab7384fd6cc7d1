#pragma once
// What the single-instance guard does each system's own way, in
// InstanceGuardPosix.cpp or InstanceGuardWindows.cpp; the channel and the
// claim are shared (InstanceGuard.cpp).

#include <QString>

#include <memory>

class QLocalSocket;

namespace terralume::guard {

// Where one instance keeps its lock and channel, for this user and display
// (on Windows: logon session), with what must stay open while it is used.
struct Place {
    QString folder; // named when the lock cannot be taken
    QString lockName;
    QString address;   // the channel's; empty when none can be made
    QString noAddress; // why there is none
    std::shared_ptr<void> held;
};
// False, with the reason in *why, when the guard cannot be set up.
bool find(Place &place, QString *why);

enum class Lock { Taken, HeldElsewhere, Failed };
// The lock, kept in `holder` and given up when the process ends, however it
// ends.
Lock take(const Place &place, std::shared_ptr<void> &holder, QString *why);

// What stands where the channel belongs, in words; empty when nothing does.
QString blocked(const Place &place);

// Lets the running instance at the far end of `socket` take the foreground,
// where the system asks for that; its process id, or 0.
qint64 letComeForward(QLocalSocket &socket);

} // namespace terralume::guard
