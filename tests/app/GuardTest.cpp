// Black-box tests of the single-instance guard: real processes started
// side by side, each test with a runtime folder of its own.
#include "InstanceGuard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray header(quint8 version, quint16 length)
{
    QByteArray bytes(terralume::guardwire::kMagic, sizeof terralume::guardwire::kMagic);
    bytes.append(char(version));
    const quint16 big = qToBigEndian(length);
    bytes.append(reinterpret_cast<const char *>(&big), sizeof big);
    return bytes;
}

} // namespace

class GuardTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> runtime_;
    std::vector<std::unique_ptr<QProcess>> processes_;
    QHash<QProcess *, QByteArray> output_;
    QStringList launcher_; // runs the probe through another program when set

    QProcess *start(const QStringList &args = {}, const QList<QPair<QString, QString>> &env = {})
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_->path());
        environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
        environment.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
        // A null value takes the variable out.
        for (const auto &[name, value] : env)
            value.isNull() ? environment.remove(name) : environment.insert(name, value);
        process->setProcessEnvironment(environment);
        const QStringList command = launcher_ + QStringList{QStringLiteral(TERRALUME_GUARD_PROBE)} + args;
        process->setProgram(command.first());
        process->setArguments(command.mid(1));
        process->start();
        processes_.push_back(std::move(process));
        return processes_.back().get();
    }

    QByteArray output(QProcess *process)
    {
        output_[process] += process->readAllStandardOutput();
        return output_[process];
    }

    // Waits for a line starting with prefix; the probe flushes every line.
    bool waitForLine(QProcess *process, const QByteArray &prefix, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const QByteArray text = output(process);
            if (text.startsWith(prefix) || text.contains('\n' + prefix))
                return true;
            if (clock.elapsed() > timeoutMs || process->state() == QProcess::NotRunning)
                return text.startsWith(prefix) || text.contains('\n' + prefix);
            process->waitForReadyRead(50);
        }
    }

    QProcess *startPrimary(const QStringList &args = {})
    {
        QProcess *primary = start(args);
        if (!waitForLine(primary, "primary"))
            qWarning() << "first start did not become the running instance:" << output(primary);
        return primary;
    }

    QString guardFolder() const { return QDir(runtime_->path()).filePath(QStringLiteral("terralume")); }

    QString socketPath() const
    {
        const QStringList sockets = QDir(guardFolder()).entryList({QStringLiteral("*.socket")}, QDir::System);
        return sockets.isEmpty() ? QString() : QDir(guardFolder()).filePath(sockets.first());
    }

    void finishSecondStart(QProcess *second, const QByteArray &expected, int timeoutMs = 15000)
    {
        QVERIFY2(second->waitForFinished(timeoutMs), "second start did not end");
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(output(second).trimmed(), expected);
    }

private slots:
    void init()
    {
        runtime_ = std::make_unique<QTemporaryDir>();
        QVERIFY(runtime_->isValid());
    }

    void cleanup()
    {
        for (auto &process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                ::kill(pid_t(process->processId()), SIGCONT);
                process->kill();
                process->waitForFinished(5000);
            }
        }
        processes_.clear();
        output_.clear();
        launcher_.clear();
        runtime_.reset();
    }

    // What a dead start may leave in the lock file: <dead> stands for its
    // number, <live> for that of a process that runs another program.
    void thirtySimultaneousStartsLeaveOneInstance_data()
    {
        QTest::addColumn<bool>("leftover");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("unreadable");
        const QByteArray holder = "\nterralume-guard-probe\n" + QSysInfo::machineHostName().toUtf8() + '\n';
        QTest::newRow("no lock file") << false << QByteArray() << false;
        QTest::newRow("empty lock") << true << QByteArray() << false;
        QTest::newRow("garbage lock") << true << QByteArray("\x01\xffnot a lock\n\n") << false;
        QTest::newRow("lock of a dead process") << true << "<dead>" + holder << false;
        QTest::newRow("lock of a live process of another program") << true << "<live>" + holder << false;
        QTest::newRow("unreadable lock") << true << QByteArray() << true;
    }

    // However a dead start left the lock, one start runs at once and the
    // others reach it.
    void thirtySimultaneousStartsLeaveOneInstance()
    {
        QFETCH(bool, leftover);
        QFETCH(QByteArray, content);
        QFETCH(bool, unreadable);
        // Root reads any file unless it gives up the capabilities for it.
        if (unreadable && ::geteuid() == 0)
            launcher_ = QStringList{QStringLiteral("setpriv"), QStringLiteral("--bounding-set"),
                                    QStringLiteral("-dac_override,-dac_read_search")};
        if (leftover) {
            QProcess *dead = startPrimary();
            content.replace("<dead>", QByteArray::number(dead->processId()))
                .replace("<live>", QByteArray::number(QCoreApplication::applicationPid()));
            dead->kill();
            QVERIFY(dead->waitForFinished(5000));
            const QStringList locks = QDir(guardFolder()).entryList({QStringLiteral("*.lock")}, QDir::Files);
            QCOMPARE(locks.size(), 1);
            QFile lock(QDir(guardFolder()).filePath(locks.first()));
            QVERIFY(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(lock.write(content), content.size());
            lock.close();
            QVERIFY(!unreadable || lock.setPermissions(QFile::Permissions()));
        }

        constexpr int starts = 30;
        std::vector<QProcess *> all;
        for (int i = 0; i < starts; ++i)
            all.push_back(start());
        auto finished = [&] {
            return std::count_if(all.begin(), all.end(),
                                 [](QProcess *p) { return p->state() == QProcess::NotRunning; });
        };
        QTRY_COMPARE_WITH_TIMEOUT(finished(), starts - 1, 30000);
        // Give a thirty-first exit the chance to show up before counting.
        QTest::qWait(200);
        QCOMPARE(finished(), starts - 1);

        QProcess *running = nullptr;
        for (QProcess *process : all) {
            if (process->state() != QProcess::NotRunning) {
                running = process;
                continue;
            }
            QCOMPARE(process->exitCode(), 0);
            QCOMPARE(output(process).trimmed(), QByteArray("forwarded"));
        }
        QVERIFY(running);
        QVERIFY(output(running).startsWith("primary"));
        QTRY_COMPARE_WITH_TIMEOUT(output(running).count("activation-end"), starts - 1, 5000);

        const QFileInfo folder(guardFolder());
        QCOMPARE(folder.permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadOwner |
                                          QFile::WriteOwner | QFile::ExeOwner),
                 QFile::Permissions());
    }

    void killedInstanceNeverBlocksTheNextStart()
    {
        QProcess *first = startPrimary();
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        // The dead instance leaves its lock and socket behind.
        QVERIFY(!QDir(guardFolder()).entryList({QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden).isEmpty());
        QVERIFY(!socketPath().isEmpty());

        QProcess *next = start({QStringLiteral("--wait-ms"), QStringLiteral("3000")});
        QVERIFY2(waitForLine(next, "primary", 5000), output(next).constData());
        finishSecondStart(start(), "forwarded");
        QVERIFY(waitForLine(next, "activation-end"));
    }

    void channelWorksWhateverTheFolderLength_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("40") << 40;
        QTest::newRow("75") << 75;
        QTest::newRow("100") << 100;
        QTest::newRow("500") << 500;
    }

    void channelWorksWhateverTheFolderLength()
    {
        QFETCH(int, length);
        QString folder = runtime_->path();
        if (folder.size() >= length)
            QSKIP("the temporary folder is longer already");
        while (folder.size() < length)
            folder += folder.size() % 100 ? QLatin1Char('r') : QLatin1Char('/');
        QVERIFY(QDir().mkpath(folder));
        const QList<QPair<QString, QString>> env{{QStringLiteral("XDG_RUNTIME_DIR"), folder}};

        QProcess *first = start({}, env);
        QVERIFY2(waitForLine(first, "primary"), output(first).constData());
        finishSecondStart(start({QStringLiteral("--wait-ms"), QStringLiteral("5000")}, env), "forwarded");
        QVERIFY(waitForLine(first, "activation-end"));
    }

    void oneInstancePerDisplay_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("sameDisplay");
        QTest::newRow("unix host") << "DISPLAY=:71"
                                   << "DISPLAY=unix:71" << true;
        QTest::newRow("screen number") << "DISPLAY=:71"
                                       << "DISPLAY=:71.0" << true;
        QTest::newRow("unix host, other screen, leading zero") << "DISPLAY=unix:71.1"
                                                               << "DISPLAY=:071" << true;
        QTest::newRow("localhost is TCP") << "DISPLAY=:71"
                                          << "DISPLAY=localhost:71" << false;
        QTest::newRow("other display") << "DISPLAY=:71"
                                       << "DISPLAY=:72" << false;
        QTest::newRow("wayland path in the runtime folder") << "WAYLAND_DISPLAY=wayland-9"
                                                            << "WAYLAND_DISPLAY=<runtime>/wayland-9" << true;
        QTest::newRow("other wayland display") << "WAYLAND_DISPLAY=wayland-9"
                                               << "WAYLAND_DISPLAY=wayland-1" << false;
    }

    void oneInstancePerDisplay()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, sameDisplay);
        auto on = [this](QString setting) {
            const QStringList pair = setting.replace(QLatin1String("<runtime>"), runtime_->path()).split(u'=');
            return QList<QPair<QString, QString>>{{QStringLiteral("DISPLAY"), QString()},
                                                  {QStringLiteral("WAYLAND_DISPLAY"), QString()},
                                                  {pair[0], pair[1]}};
        };
        QProcess *firstStart = start({}, on(first));
        QVERIFY2(waitForLine(firstStart, "primary"), output(firstStart).constData());
        QProcess *secondStart = start({QStringLiteral("--wait-ms"), QStringLiteral("5000")}, on(second));
        if (sameDisplay)
            finishSecondStart(secondStart, "forwarded");
        else
            QVERIFY2(waitForLine(secondStart, "primary"), output(secondStart).constData());
    }

    void busyInstanceAnswersOnceHandled_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("busyLine");
        QTest::addColumn<QByteArray>("doneLine");
        QTest::newRow("busy when asked") << QStringList{QStringLiteral("--busy-start"), QStringLiteral("2")}
                                         << QByteArray("busy") << QByteArray("idle");
        QTest::newRow("busy handling the request") << QStringList{QStringLiteral("--busy-handler"), QStringLiteral("2")}
                                                   << QByteArray("primary") << QByteArray("activation-begin");
    }

    void busyInstanceAnswersOnceHandled()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, busyLine);
        QFETCH(QByteArray, doneLine);
        QProcess *first = start(args);
        QVERIFY(waitForLine(first, busyLine));

        QElapsedTimer clock;
        clock.start();
        QProcess *second = start();
        finishSecondStart(second, "forwarded");
        QVERIFY2(clock.elapsed() >= 1000, "the second start ended before the busy instance was free");
        // The running instance finished handling before it released the
        // second start, so its report is already in the pipe.
        first->waitForReadyRead(200);
        const QByteArray seen = output(first);
        QVERIFY2(seen.contains(doneLine), seen.constData());
        QVERIFY2(seen.contains("activation-end"), seen.constData());
    }

    void stoppedInstanceMakesSecondStartGiveUp()
    {
        QProcess *first = startPrimary();
        QCOMPARE(::kill(pid_t(first->processId()), SIGSTOP), 0);

        QElapsedTimer clock;
        clock.start();
        QProcess *second = start({QStringLiteral("--wait-ms"), QStringLiteral("1500")});
        finishSecondStart(second, "no-answer", 10000);
        QVERIFY(clock.elapsed() >= 1400);
        QVERIFY(second->readAllStandardError().contains("did not answer"));
        QCOMPARE(first->state(), QProcess::Running);

        QCOMPARE(::kill(pid_t(first->processId()), SIGCONT), 0);
        finishSecondStart(start(), "forwarded");
    }

    void malformedRequestsAreDropped_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("text") << QByteArray("GET / HTTP/1.0\r\n\r\n");
        QTest::newRow("zero bytes") << QByteArray(10000, '\0');
        QTest::newRow("unknown version") << header(2, 0);
        // Incomplete, so only judging each part as it comes cuts them off
        // before the request deadline.
        QTest::newRow("first byte alone, wrong") << QByteArray("X");
        QTest::newRow("unknown version, no length yet") << header(2, 0).left(5);
        QTest::newRow("token too long, header only") << header(1, 600);
        QTest::newRow("token too long") << header(1, 600) + QByteArray(600, 'a');
        QTest::newRow("length beyond what is sent then more") << header(1, 4) + QByteArray("abcdEXTRA");
        QTest::newRow("control characters in token") << header(1, 3) + QByteArray("a\nb");
        QTest::newRow("flood with a valid start") << header(1, 512) + QByteArray(70000, 'x');
    }

    void malformedRequestsAreDropped()
    {
        QFETCH(QByteArray, payload);
        QProcess *first = startPrimary();
        QLocalSocket abuser;
        abuser.connectToServer(socketPath());
        QVERIFY(abuser.waitForConnected(2000));
        abuser.write(payload);
        abuser.waitForBytesWritten(1000);
        QVERIFY2(abuser.state() == QLocalSocket::UnconnectedState || abuser.waitForDisconnected(1500),
                 "the running instance kept a bad connection open");
        QCOMPARE(abuser.readAll(), QByteArray());

        finishSecondStart(start(), "forwarded");
        QVERIFY(waitForLine(first, "activation-end"));
        QCOMPARE(output(first).count("activation-begin"), 1);
    }

    void idleConnectionsNeitherBlockNorLinger()
    {
        QProcess *first = startPrimary();
        // More than the instance keeps open at once, some of them half a request.
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < terralume::InstanceGuard::kMaxConnections + 16; ++i) {
            auto socket = std::make_unique<QLocalSocket>();
            socket->connectToServer(socketPath());
            QVERIFY(socket->waitForConnected(2000));
            if (i % 2)
                socket->write(header(1, 8).left(i % 7));
            socket->flush();
            idle.push_back(std::move(socket));
        }
        finishSecondStart(start(), "forwarded");
        QVERIFY(waitForLine(first, "activation-end"));

        const int deadline = int(terralume::InstanceGuard::kRequestDeadline.count()) + 3000;
        for (auto &socket : idle)
            QVERIFY(socket->state() == QLocalSocket::UnconnectedState || socket->waitForDisconnected(deadline));
        QCOMPARE(output(first).count("activation-begin"), 1);
    }

    void activationTokenReachesTheRunningInstance_data()
    {
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<QString>("x11");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("wayland") << "wl-token_123" << QString() << QByteArray("wl-token_123");
        QTest::newRow("x11") << QString() << "host-42-7_TIME1234" << QByteArray("host-42-7_TIME1234");
        QTest::newRow("wayland preferred") << "wl"
                                           << "x11" << QByteArray("wl");
        QTest::newRow("space in token") << "two words" << QString() << QByteArray();
        QTest::newRow("too long") << QString(600, QLatin1Char('t')) << QString() << QByteArray();
        QTest::newRow("none") << QString() << QString() << QByteArray();
    }

    void activationTokenReachesTheRunningInstance()
    {
        QFETCH(QString, wayland);
        QFETCH(QString, x11);
        QFETCH(QByteArray, expected);
        QProcess *first = startPrimary();
        QList<QPair<QString, QString>> env;
        if (!wayland.isEmpty())
            env.append({QStringLiteral("XDG_ACTIVATION_TOKEN"), wayland});
        if (!x11.isEmpty())
            env.append({QStringLiteral("DESKTOP_STARTUP_ID"), x11});
        finishSecondStart(start({}, env), "forwarded");
        QVERIFY(waitForLine(first, "activation-end"));
        const QByteArray seen = output(first);
        QVERIFY2(seen.contains("\nactivation-begin " + expected + '\n'), seen.constData());
    }

    // A folder where the socket belongs (left by hand, or by a tool that
    // copied the runtime folder) is named by both starts, and left alone:
    // it may hold someone's files.
    void folderInPlaceOfTheSocketIsNamed()
    {
        QProcess *first = startPrimary();
        const QString socket = socketPath();
        QVERIFY(!socket.isEmpty());
        first->kill();
        QVERIFY(first->waitForFinished(5000));
        QVERIFY(QFile::remove(socket));
        QVERIFY(QDir().mkdir(socket));
        const QByteArray reason = QFile::encodeName(socket) + " is a folder, not the program's socket";

        QProcess *running = startPrimary();
        QVERIFY(output(running).startsWith("primary"));
        const QByteArray told = running->readAllStandardError();
        QVERIFY2(told.contains(reason), told.constData());

        // The later start gives up at once: waiting cannot help.
        QProcess *second = start({QStringLiteral("--wait-ms"), QStringLiteral("60000")});
        QVERIFY2(second->waitForFinished(15000), "second start did not end");
        QCOMPARE(output(second).trimmed(), QByteArray("no-answer"));
        const QByteArray secondTold = second->readAllStandardError();
        QVERIFY2(secondTold.contains(reason), secondTold.constData());
        QVERIFY(QFileInfo(socket).isDir());
    }

    void untrustedFolderIsRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("open to others") << "mode" << QByteArray("open to other users");
        QTest::newRow("another owner") << "owner" << QByteArray("another user");
        QTest::newRow("symbolic link") << "link" << QByteArray("not a folder");
        QTest::newRow("plain file") << "file" << QByteArray("not a folder");
    }

    void untrustedFolderIsRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, reason);
        const QByteArray folder = QFile::encodeName(guardFolder());
        const QByteArray elsewhere = QFile::encodeName(QDir(runtime_->path()).filePath(QStringLiteral("elsewhere")));
        if (kind == QLatin1String("mode")) {
            QCOMPARE(::mkdir(folder.constData(), 0700), 0);
            QCOMPARE(::chmod(folder.constData(), 0755), 0);
        } else if (kind == QLatin1String("owner")) {
            if (::geteuid() != 0)
                QSKIP("handing a folder to another user needs root");
            QCOMPARE(::mkdir(folder.constData(), 0700), 0);
            QCOMPARE(::chown(folder.constData(), 65534, 65534), 0);
        } else if (kind == QLatin1String("link")) {
            QCOMPARE(::mkdir(elsewhere.constData(), 0700), 0);
            QCOMPARE(::symlink(elsewhere.constData(), folder.constData()), 0);
        } else {
            QFile file(guardFolder());
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        struct stat before {};
        QCOMPARE(::lstat(folder.constData(), &before), 0);

        QProcess *probe = start();
        QVERIFY(waitForLine(probe, "unguarded"));
        QVERIFY2(output(probe).contains(reason), output(probe).constData());

        struct stat after {};
        QCOMPARE(::lstat(folder.constData(), &after), 0);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_uid, before.st_uid);
        if (S_ISDIR(after.st_mode))
            QVERIFY(QDir(guardFolder()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
        if (kind == QLatin1String("link"))
            QVERIFY(QDir(QFile::decodeName(elsewhere)).isEmpty());
    }
};

QTEST_GUILESS_MAIN(GuardTest)
#include "GuardTest.moc"
