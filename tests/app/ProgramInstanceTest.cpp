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
};

QTEST_GUILESS_MAIN(ProgramInstanceTest)
#include "ProgramInstanceTest.moc"
