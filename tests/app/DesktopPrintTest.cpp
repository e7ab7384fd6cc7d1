// File > Print on a real X server with a window manager, to the private
// scheduler's PDF queue: the map window goes on painting while the job runs,
// the job ends without a message, and a print service that stops answering
// holds neither the map window nor the program.
#include "PrivateScheduler.h"
#include "XDesktop.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class DesktopPrintTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;
    terralume::print::testing::Scheduler cups_;

    bool scheduler(const char *action)
    {
        return QProcess::execute(QStringLiteral("sh"), {cups_.script, QString::fromLatin1(action), cups_.state}) == 0;
    }
    // Connections the scheduler has not taken yet: a frozen one leaves each
    // new client waiting there.
    int waitingClients()
    {
        const QString listening = desktop_.run(QStringLiteral("ss"), {QStringLiteral("-xlnH"), QStringLiteral("src"),
                                                                      cups_.server});
        return listening.simplified().section(u' ', 2, 2).toInt();
    }
    void keys(const QString &window, const QStringList &names) { desktop_.sendKeys(window, names); }
    // File > Print, the menu opened with the mouse as most people do.
    void print(const QString &map)
    {
        desktop_.run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"), map,
                                                 QStringLiteral("15"), QStringLiteral("10"), QStringLiteral("click"),
                                                 QStringLiteral("1")});
        desktop_.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Return")});
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        if (QStandardPaths::findExecutable(QStringLiteral("ss")).isEmpty())
            QSKIP("ss is not installed");
        cups_ = terralume::print::testing::privateScheduler();
        QVERIFY2(cups_.isSetUp(), "the private scheduler is not set up");
        cups_.use();
        QVERIFY2(desktop_.start(), "no X server with a window manager could be started");
    }

    void cleanupTestCase() { desktop_.stop(); }

    void mapRepaintsDuringALargePrint()
    {
        const int lastJob = terralume::print::testing::lastJobOn(cups_.queue);
        QProcess probe;
        QProcessEnvironment env = desktop_.environment();
        env.insert(QStringLiteral("CUPS_SERVER"), cups_.server);
        env.remove(QStringLiteral("PRINTER"));
        env.remove(QStringLiteral("LPDEST"));
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(TERRALUME_PRINT_PROBE), QStringList());
        QVERIFY(probe.waitForStarted(10000));
        // The probe bounds its own wait for the job.
        QVERIFY(probe.waitForFinished(-1));
        const QString report = QString::fromLocal8Bit(probe.readAllStandardOutput());
        QCOMPARE(probe.exitCode(), 0);
        QVERIFY2(report.contains(QStringLiteral("job ended: yes\n")), qPrintable(report));
        QVERIFY2(!report.contains(QStringLiteral("message box:")), qPrintable(report));
        const QRegularExpressionMatch paints =
            QRegularExpression(QStringLiteral("paints during the job: (\\d+)")).match(report);
        QVERIFY2(paints.hasMatch() && paints.captured(1).toInt() > 0, qPrintable(report));
        qInfo("%s", qPrintable(report.trimmed()));
        QString why;
        QVERIFY2(!terralume::print::testing::printedPage(cups_, lastJob, &why).isEmpty(), qPrintable(why));
    }

    // Print waits on a scheduler that takes connections and answers nothing.
    // The map window still closes at once, leaving nothing half-sent behind;
    // once the scheduler answers again the next Print of the same run
    // prints; and a job still waiting when the program is ended does not
    // hold the program.
    void frozenPrintServiceHoldsNoWindow()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment env = desktop_.environment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("CUPS_SERVER"), cups_.server);
        env.remove(QStringLiteral("PRINTER"));
        env.remove(QStringLiteral("LPDEST"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TERRALUME_PROGRAM), QStringList());
        QVERIFY(program.waitForStarted(10000));
        const auto cleanUp = qScopeGuard([&] {
            scheduler("thaw");
            program.kill();
            program.waitForFinished(10000);
        });
        QString settings;
        QTRY_VERIFY_WITH_TIMEOUT(!(settings = desktop_.windowTitled(QStringLiteral("^Terralume$"))).isEmpty(), 60000);
        const auto openMap = [&] {
            keys(settings, {QStringLiteral("Return")});
            QString map;
            (void)QTest::qWaitFor([&] { return !(map = desktop_.windowTitled(QStringLiteral("^Terralume - "))).isEmpty(); },
                            30000);
            return map;
        };
        // Closing and ending, each with a Print waiting on the frozen
        // scheduler; the bound is well below the shortest wait on the
        // service (5 s to find the printer).
        const auto printWhileFrozen = [&](const QString &map) {
            QVERIFY(scheduler("freeze"));
            const int waiting = waitingClients();
            print(map);
            QTRY_VERIFY_WITH_TIMEOUT(waitingClients() > waiting, 30000);
        };
        const int lastJob = terralume::print::testing::lastJobOn(cups_.queue);

        QString map = openMap();
        QVERIFY2(!map.isEmpty(), "Generate showed no map");
        printWhileFrozen(map);
        QElapsedTimer closing;
        closing.start();
        keys(map, {QStringLiteral("alt+F4")});
        QTRY_VERIFY_WITH_TIMEOUT(desktop_.windowTitled(QStringLiteral("^Terralume - ")).isEmpty(), 3000);
        qInfo("the map window closed %lld ms after Alt+F4", static_cast<long long>(closing.elapsed()));

        QVERIFY(scheduler("thaw"));
        map = openMap();
        QVERIFY2(!map.isEmpty(), "Generate showed no map after the first one closed");
        print(map);
        QString why;
        QVERIFY(terralume::print::testing::waitUntil(
            [&] { return terralume::print::testing::lastJobOn(cups_.queue) > lastJob; }));
        QVERIFY2(!terralume::print::testing::printedPage(cups_, lastJob, &why).isEmpty(), qPrintable(why));
        const int printed = terralume::print::testing::lastJobOn(cups_.queue);

        printWhileFrozen(map);
        keys(map, {QStringLiteral("alt+F4")});
        QTRY_VERIFY_WITH_TIMEOUT(desktop_.windowTitled(QStringLiteral("^Terralume - ")).isEmpty(), 3000);
        QElapsedTimer ending;
        ending.start();
        keys(settings, {QStringLiteral("alt+F4")});
        QVERIFY2(program.waitForFinished(3000), "the program did not end while a Print waited on the service");
        qInfo("the program ended %lld ms after Alt+F4", static_cast<long long>(ending.elapsed()));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(scheduler("thaw"));
        QVERIFY(terralume::print::testing::waitUntil([&] { return waitingClients() == 0; }));
        QCOMPARE(terralume::print::testing::lastJobOn(cups_.queue), printed);
    }
};

QTEST_GUILESS_MAIN(DesktopPrintTest)
#include "DesktopPrintTest.moc"
