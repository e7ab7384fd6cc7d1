// File > Print of the largest view on a real X server with a window manager,
// to the private scheduler's PDF queue: the map window goes on painting while
// the job runs, and the job ends without a message.
#include "PrivateScheduler.h"
#include "XDesktop.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

class DesktopPrintTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;
    terralume::print::testing::Scheduler cups_;

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
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
};

QTEST_GUILESS_MAIN(DesktopPrintTest)
#include "DesktopPrintTest.moc"
