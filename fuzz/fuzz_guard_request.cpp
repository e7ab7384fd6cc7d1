// Fuzzes the running instance's request reader with whatever a second start
// (or any other local program) might send down the channel. The input's first
// byte says how to deliver the rest: in how many pieces, and whether to hang
// up at once or wait for an answer. After each input the connection must be
// gone once the peer has left, a well-formed request must still be answered
// (the server keeps serving whatever it was sent before), and no token that
// is not plain printable ASCII may ever reach the running instance.

#include "InstanceGuard.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

QCoreApplication *application = nullptr;
terralume::InstanceGuard *guard = nullptr;
QLocalServer *server = nullptr;
QString lastToken;
int requestsHandled = 0;
fs::path runtimeFolder;

void removeRuntimeFolder()
{
    std::error_code ignored;
    if (!runtimeFolder.empty())
        fs::remove_all(runtimeFolder, ignored);
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "instance guard finding: %s\n", what);
    std::abort();
}

// Runs the event loop, deferred deletions included, until `done` holds or
// the time is up; returns whether `done` held.
bool pumpUntil(const std::function<bool()> &done, int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (done())
            return true;
        if (clock.elapsed() > milliseconds)
            return false;
    }
}

// A few turns of the event loop, enough for data already sent to be read
// and answered, ending early once `done` holds.
void pumpTurns(int turns, const std::function<bool()> &done)
{
    for (int turn = 0; turn < turns && !done(); ++turn) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

qsizetype openConnections()
{
    return server->findChildren<QLocalSocket *>(QString(), Qt::FindDirectChildrenOnly).size();
}

void checkStillServing()
{
    const int before = requestsHandled;
    QLocalSocket probe;
    probe.connectToServer(server->fullServerName());
    if (!pumpUntil([&] { return probe.state() == QLocalSocket::ConnectedState; }, 2000))
        fail("a new connection is no longer accepted");
    probe.write(terralume::guardwire::encodeRequest(QStringLiteral("still-serving")));
    QByteArray answer;
    const bool answered = pumpUntil(
        [&] {
            answer += probe.readAll();
            return answer.size() >= 6 || probe.state() == QLocalSocket::UnconnectedState;
        },
        3000);
    const QByteArray expected = QByteArray(terralume::guardwire::kMagic, 4) + char(terralume::guardwire::kVersion) +
                                char(terralume::guardwire::kHandled);
    if (!answered || answer != expected)
        fail("a well-formed request is no longer answered");
    if (requestsHandled != before + 1 || lastToken != QStringLiteral("still-serving"))
        fail("a well-formed request did not reach the running instance");
    probe.abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    std::string pattern = (fs::temp_directory_path() / "guard-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        fail("no private runtime folder");
    runtimeFolder = pattern;
    std::atexit(removeRuntimeFolder);
    setenv("XDG_RUNTIME_DIR", pattern.c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");

    static int argc = 1;
    static char name[] = "fuzz_guard_request";
    static char *argv[] = {name, nullptr};
    application = new QCoreApplication(argc, argv);
    guard = new terralume::InstanceGuard;
    if (guard->claim() != terralume::InstanceGuard::Outcome::Primary)
        fail("the first instance did not become the running one");
    server = guard->findChild<QLocalServer *>();
    if (!server || !server->isListening())
        fail("the running instance is not listening");
    QObject::connect(guard, &terralume::InstanceGuard::activationRequested, [](const QString &token) {
        // The token ends up in the environment of the running instance's
        // windowing calls: only short, plain printable ASCII may get through.
        if (token.size() > terralume::InstanceGuard::kMaxTokenLength)
            fail("an over-long token was passed on");
        for (const QChar c : token)
            if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
                fail("a token with a blank, control or non-ASCII character was passed on");
        ++requestsHandled;
        lastToken = token;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return -1;
    const int pieces = 1 + (data[0] & 0x07);
    const bool waitForAnswer = (data[0] & 0x08) != 0;
    const QByteArray payload(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));

    {
        QLocalSocket client;
        client.connectToServer(server->fullServerName());
        if (!pumpUntil([&] { return client.state() == QLocalSocket::ConnectedState; }, 2000))
            fail("the fuzzing connection was not accepted");
        const qsizetype step = payload.size() / pieces + 1;
        for (qsizetype at = 0; at < payload.size() && client.state() == QLocalSocket::ConnectedState; at += step) {
            client.write(payload.mid(at, step));
            client.flush();
            pumpTurns(1, [] { return false; });
        }
        if (waitForAnswer) {
            // A complete request is answered within a turn or two of the loop;
            // anything else is cut off by the server's own deadline, which is
            // too long to wait for here.
            pumpTurns(4,
                      [&] { return client.bytesAvailable() >= 6 || client.state() != QLocalSocket::ConnectedState; });
            client.readAll();
        }
        client.disconnectFromServer();
    }
    if (!pumpUntil([] { return openConnections() == 0; }, 2000))
        fail("a connection stays open after its peer left");

    checkStillServing();
    if (!pumpUntil([] { return openConnections() == 0; }, 2000))
        fail("the check's connection stays open after it left");
    return 0;
}
