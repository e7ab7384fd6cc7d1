// A second start against a first one on a real X server with a window
// manager: the minimised first instance comes back, and a modal window of
// it keeps the focus.
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class DesktopRestoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_windowManager;
    std::vector<std::unique_ptr<QProcess>> m_probes;
    QString m_display;

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
        env.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
        return env;
    }

    QString run(const QString &program, const QStringList &args)
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(program, args);
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(1000);
        }
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

    QProcess *probe(const QStringList &args)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(environment());
        process->start(QStringLiteral(TERRALUME_GUARD_PROBE), args);
        m_probes.push_back(std::move(process));
        return m_probes.back().get();
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
        return id.isEmpty() ? QString() : run(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("WM_STATE")});
    }

    // The server picks a free display itself and names it on stdout; then the
    // window manager, ready once it has announced itself on the root window.
    bool startDesktop()
    {
        m_server = std::make_unique<QProcess>();
        m_server->start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                                 QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                                 QStringLiteral("tcp")});
        QByteArray number;
        while (!number.contains('\n') && m_server->waitForReadyRead(10000))
            number += m_server->readAllStandardOutput();
        if (!number.contains('\n'))
            return false;
        m_display = QLatin1Char(':') + QString::fromLatin1(number).trimmed();

        m_windowManager = std::make_unique<QProcess>();
        m_windowManager->setProcessEnvironment(environment());
        m_windowManager->start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!m_windowManager->waitForStarted(5000))
            return false;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 15000) {
            if (run(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                    .contains(QLatin1String("window id")))
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    void stopDesktop()
    {
        for (QProcess *process : {m_windowManager.get(), m_server.get()}) {
            if (process && process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
            }
        }
    }

private slots:
    void initTestCase()
    {
        for (const char *tool : {"Xvfb", "openbox", "xdotool", "xprop"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool))));
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(m_runtime->isValid());

        // Now and then a fresh server and window manager do not settle (the
        // manager's first grab of the server never ends); start them anew then.
        bool ready = false;
        for (int attempt = 0; attempt < 3 && !ready; ++attempt) {
            stopDesktop();
            ready = startDesktop();
        }
        QVERIFY2(ready, "no X server with a window manager could be started");
    }

    void cleanup()
    {
        for (auto &process : m_probes) {
            process->kill();
            process->waitForFinished(5000);
        }
        m_probes.clear();
    }

    void cleanupTestCase() { stopDesktop(); }

    void secondStartBringsTheFirstForward_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("focused");
        QTest::newRow("minimised") << QStringList{QStringLiteral("--window")} << QString();
        QTest::newRow("minimised with a modal window open")
            << QStringList{QStringLiteral("--window"), QStringLiteral("--modal")} << QStringLiteral("Terralume probe modal");
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
        QTRY_COMPARE_WITH_TIMEOUT(run(QStringLiteral("xdotool"), {QStringLiteral("getactivewindow"), QStringLiteral("getwindowname")}),
                                  focused, 5000);
        const QString after = lineStartingWith(first, seen, "after");
        QVERIFY2(after.contains(QLatin1String("minimized=0 visible=1")), seen.constData());
    }
};

QTEST_GUILESS_MAIN(DesktopRestoreTest)
#include "DesktopRestoreTest.moc"
