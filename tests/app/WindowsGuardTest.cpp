// The single-instance guard on Windows, with real processes: the probe (the
// program's start-up without its windows) and the program itself.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <memory>
#include <vector>

class WindowsGuardTest : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<QProcess>> started_;

    QProcess *start(const QString &program, const QStringList &args = {},
                    const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        auto &process = started_.emplace_back(std::make_unique<QProcess>());
        process->setProcessEnvironment(env);
        process->start(program, args);
        return process.get();
    }
    QProcess *probe(const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        return start(QStringLiteral(TERRALUME_GUARD_PROBE), {}, env);
    }

    // The probe's first line: "primary PID", "forwarded to PID", ...
    static QByteArray firstLine(QProcess *process)
    {
        while (!process->canReadLine() && process->state() != QProcess::NotRunning)
            process->waitForReadyRead(1000);
        return process->readLine().trimmed();
    }

    // A start that has said its line may already be gone, and
    // waitForFinished() answers false for a process that has ended.
    static bool ended(QProcess *process)
    {
        return process->state() == QProcess::NotRunning || process->waitForFinished(30000);
    }

    static QByteArray primaryLine(QProcess *process)
    {
        return "primary " + QByteArray::number(process->processId());
    }

private slots:
    void cleanup()
    {
        for (auto &process : started_) {
            process->kill();
            process->waitForFinished(10000);
        }
        started_.clear();
    }

    // The second start reaches the running instance, learns which process
    // it is (to let it take the foreground) and ends with 0. The key is the
    // user's session, so a different DISPLAY, as Wine's X11 driver or an
    // X server on Windows would set, does not make a second instance.
    void secondStartIsForwardedToTheRunningInstance_data()
    {
        QTest::addColumn<QString>("secondDisplay");
        QTest::newRow("same environment") << QString();
        QTest::newRow("other DISPLAY") << QStringLiteral(":97");
    }
    void secondStartIsForwardedToTheRunningInstance()
    {
        QFETCH(QString, secondDisplay);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":96"));
        QProcess *first = probe(env);
        QCOMPARE(firstLine(first), primaryLine(first));

        if (!secondDisplay.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), secondDisplay);
        QProcess *second = probe(env);
        QCOMPARE(firstLine(second), "forwarded to " + QByteArray::number(first->processId()));
        QVERIFY(ended(second));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);
    }

    void thirtySimultaneousStartsLeaveOneInstance()
    {
        constexpr int starts = 30;
        std::vector<QProcess *> probes;
        for (int i = 0; i < starts; ++i)
            probes.push_back(probe());
        QList<QByteArray> lines;
        for (QProcess *p : probes)
            lines.append(firstLine(p));
        int primaries = 0;
        QByteArray forwardedTo;
        for (int i = 0; i < starts; ++i) {
            if (lines[i] == primaryLine(probes[i])) {
                ++primaries;
                forwardedTo = "forwarded to " + QByteArray::number(probes[i]->processId());
            }
        }
        QCOMPARE(primaries, 1);
        for (int i = 0; i < starts; ++i) {
            if (lines[i] == primaryLine(probes[i]))
                continue;
            QCOMPARE(lines[i], forwardedTo);
            QVERIFY(ended(probes[i]));
            QCOMPARE(probes[i]->exitCode(), 0);
        }
    }

    // Windows hands the mutex on when its owner is killed.
    void killedInstanceNeverBlocksTheNextStart()
    {
        QProcess *first = probe();
        QCOMPARE(firstLine(first), primaryLine(first));
        first->kill();
        QVERIFY(ended(first));
        QProcess *next = probe();
        QCOMPARE(firstLine(next), primaryLine(next));
    }

    // The program twice: whichever claims first runs on, the other ends
    // with 0 and says nothing, since the running one answered.
    void programStartedTwiceLeavesOne()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QProcess *a = start(QStringLiteral(TERRALUME_PROGRAM), {}, env);
        QProcess *b = start(QStringLiteral(TERRALUME_PROGRAM), {}, env);
        QVERIFY(a->waitForStarted(10000) && b->waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(a->state() == QProcess::NotRunning || b->state() == QProcess::NotRunning, 180000);
        QProcess *ended = a->state() == QProcess::NotRunning ? a : b;
        QProcess *running = ended == a ? b : a;
        QCOMPARE(ended->exitStatus(), QProcess::NormalExit);
        QCOMPARE(ended->exitCode(), 0);
        QCOMPARE(ended->readAllStandardError(), QByteArray());
        QCOMPARE(running->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(WindowsGuardTest)
#include "WindowsGuardTest.moc"
