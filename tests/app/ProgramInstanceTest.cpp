// The program itself under the single-instance guard: a second start makes no
// second copy and ends with 0; once the first is gone, a start runs again.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class ProgramInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir runtime_;

    void prepare(QProcess &process)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        process.setProcessEnvironment(env);
        process.setProgram(QStringLiteral(TERRALUME_PROGRAM));
    }

    QDir guardFolder() const { return QDir(QDir(runtime_.path()).filePath(QStringLiteral("terralume"))); }

    // The running instance is listening once its channel takes a connection
    // (a socket a dead instance left shows in the folder but refuses).
    bool waitUntilServing(QProcess &process)
    {
        if (!process.waitForStarted(10000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 20000 && process.state() == QProcess::Running) {
            for (const QString &name : guardFolder().entryList({QStringLiteral("*.socket")}, QDir::System)) {
                QLocalSocket probe;
                probe.connectToServer(guardFolder().filePath(name));
                if (probe.waitForConnected(1000))
                    return true;
            }
            QTest::qWait(50);
        }
        return false;
    }

    // A second start ends at once with 0, and says nothing: it was answered.
    void startSecond()
    {
        QProcess second;
        prepare(second);
        second.start();
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY2(second.readAllStandardError().isEmpty(), "the running instance answered");
    }

    static void stop(QProcess &process)
    {
        process.kill();
        process.waitForFinished(10000);
    }

    using Environment = QList<QPair<QString, QString>>; // a null value takes the variable out

private slots:
    void initTestCase()
    {
        QVERIFY(runtime_.isValid());
        QVERIFY(QFile::setPermissions(runtime_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void secondStartEndsAndTheFirstRunsOn()
    {
        QProcess first;
        prepare(first);
        first.start();
        QVERIFY2(waitUntilServing(first), first.readAllStandardError().constData());

        for (int attempt = 0; attempt < 3; ++attempt)
            startSecond();
        QCOMPARE(first.state(), QProcess::Running);
        stop(first);

        // Killed, not ended, and the lock then emptied as a start killed while
        // writing it would leave it: the next start still becomes the running
        // instance.
        for (const QString &name : guardFolder().entryList({QStringLiteral("*.lock")}, QDir::Files))
            QVERIFY(QFile(guardFolder().filePath(name)).resize(0));
        QProcess next;
        prepare(next);
        next.start();
        QVERIFY2(waitUntilServing(next), next.readAllStandardError().constData());
        startSecond();
        QCOMPARE(next.state(), QProcess::Running);
        stop(next);
    }

    // Qt's X11 platform aborts without a display; the program says so in
    // one line of its own and ends normally with 1.
    void noDisplayIsToldAndEndsTheStart_data()
    {
        QTest::addColumn<Environment>("environment");
        QTest::addColumn<QByteArray>("told");
        const QString none;
        QTest::newRow("no display named")
            << Environment{{"DISPLAY", none}, {"WAYLAND_DISPLAY", none}, {"QT_QPA_PLATFORM", none}}
            << QByteArray("terralume: cannot open a display: neither DISPLAY nor WAYLAND_DISPLAY is set");
        QTest::newRow("X11 asked for, Wayland named")
            << Environment{{"DISPLAY", none}, {"WAYLAND_DISPLAY", "wayland-9"}, {"QT_QPA_PLATFORM", "xcb"}}
            << QByteArray("terralume: cannot open a display: DISPLAY is not set");
        // A local display number that no X server of this machine uses.
        QTest::newRow("X display not answering")
            << Environment{{"DISPLAY", "unix:4999"}, {"WAYLAND_DISPLAY", none}, {"QT_QPA_PLATFORM", none}}
            << QByteArray("terralume: cannot open a display: the display \"unix:4999\" does not answer");
    }

    void noDisplayIsToldAndEndsTheStart()
    {
        QFETCH(Environment, environment);
        QFETCH(QByteArray, told);
        QProcess start;
        prepare(start);
        QProcessEnvironment env = start.processEnvironment();
        env.remove(QStringLiteral("XDG_SESSION_TYPE"));
        for (const auto &[name, value] : environment)
            value.isNull() ? env.remove(name) : env.insert(name, value);
        start.setProcessEnvironment(env);
        start.start();
        QVERIFY(start.waitForFinished(30000));
        QCOMPARE(start.exitStatus(), QProcess::NormalExit);
        QCOMPARE(start.exitCode(), 1);
        QCOMPARE(start.readAllStandardError(), told + '\n');
    }
};

QTEST_GUILESS_MAIN(ProgramInstanceTest)
#include "ProgramInstanceTest.moc"
