// A second start against a first one on a real X server with a window
// manager: the minimised first instance comes back, and a modal window of
// it keeps the focus.
#include "XDesktop.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <memory>
#include <vector>

class DesktopRestoreTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;
    std::vector<std::unique_ptr<QProcess>> probes_;

    QString run(const QString &program, const QStringList &args) { return desktop_.run(program, args); }

    QProcess *probe(const QStringList &args)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(desktop_.environment());
        process->start(QStringLiteral(TERRALUME_GUARD_PROBE), args);
        probes_.push_back(std::move(process));
        return probes_.back().get();
    }

    static QString lineStartingWith(QProcess *process, QByteArray &seen, const QByteArray &prefix)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 10000) {
            seen += process->readAllStandardOutput();
            for (const QByteArray &line : seen.split('\n'))
                if (line.startsWith(prefix))
                    return QString::fromLatin1(line);
            process->waitForReadyRead(100);
        }
        return QString();
    }

    QString windowId(const QString &title)
    {
        return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"), title})
            .section(QLatin1Char('\n'), 0, 0);
    }

    // The window manager's own record of a window: Normal or Iconic.
    QString windowManagerState(const QString &title)
    {
        const QString id = windowId(title);
        return id.isEmpty() ? QString() : desktop_.property(id, QStringLiteral("WM_STATE"));
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        QVERIFY2(desktop_.start(), "no X server with a window manager could be started");
    }

    void cleanup()
    {
        for (auto &process : probes_) {
            process->kill();
            process->waitForFinished(5000);
        }
        probes_.clear();
    }

    void cleanupTestCase() { desktop_.stop(); }

    void secondStartBringsTheFirstForward_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("focused");
        QTest::newRow("minimised") << QStringList{QStringLiteral("--window")} << QString();
        QTest::newRow("minimised with a modal window open")
            << QStringList{QStringLiteral("--window"), QStringLiteral("--modal")}
            << QStringLiteral("Terralume probe modal");
    }

    void secondStartBringsTheFirstForward()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, focused);
        QProcess *first = probe(args);
        QByteArray seen;
        QVERIFY2(!lineStartingWith(first, seen, "shown").isEmpty(), seen.constData());
        const QString title = QStringLiteral("Terralume probe %1").arg(first->processId());
        if (focused.isEmpty())
            focused = title;

        // Minimised the way a user does it, through the window manager.
        run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), windowId(title)});
        QTRY_VERIFY_WITH_TIMEOUT(windowManagerState(title).contains(QLatin1String("Iconic")), 5000);

        QProcess *second = probe({});
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(second->readAllStandardOutput().trimmed(), QByteArray("forwarded"));

        QTRY_VERIFY_WITH_TIMEOUT(windowManagerState(title).contains(QLatin1String("Normal")), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(
            run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}),
            focused, 5000);
        const QString after = lineStartingWith(first, seen, "after");
        QVERIFY2(after.contains(QLatin1String("minimized=0 visible=1")), seen.constData());
    }
};

QTEST_GUILESS_MAIN(DesktopRestoreTest)
#include "DesktopRestoreTest.moc"
