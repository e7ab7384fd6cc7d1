// The program's windows as a user meets them on a real X server with a
// window manager: help beside a modal window, the map window as part of the
// one application, and a map window whose border stays fixed.
#include "XDesktop.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

class DesktopWindowsTest : public QObject {
    Q_OBJECT

    XDesktop m_desktop;
    QProcess m_program;
    QString m_settings;

    QString run(const QString &program, const QStringList &args) { return m_desktop.run(program, args); }
    QString xdotool(const QStringList &args) { return run(QStringLiteral("xdotool"), args); }

    // The first listed window whose title matches; empty while there is none.
    QString window(const QRegularExpression &title) const
    {
        for (const auto &[id, listed] : m_desktop.windows())
            if (title.match(listed).hasMatch() && !XDesktop::sameWindow(id, m_settings))
                return id;
        return QString();
    }
    QString mapWindow() const { return window(QRegularExpression(QStringLiteral("^Terralume - "))); }
    QString helpWindow() const { return window(QRegularExpression(QStringLiteral("^Terralume Help$"))); }

    QString wmState(const QString &id) const
    {
        return m_desktop.property(id, QStringLiteral("WM_STATE")).section(QLatin1Char('\n'), 1, 1).trimmed();
    }
    bool isActive(const QString &id) const { return XDesktop::sameWindow(m_desktop.activeWindow(), id); }

    void typeInto(const QString &id, const QStringList &keys)
    {
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
        xdotool(QStringList{QStringLiteral("key")} + keys);
    }

    // Help > Help (first entry) or Help > About (second), with the mouse on
    // the menu bar as a user does it.
    void openHelpMenuEntry(int entry)
    {
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), m_settings});
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), m_settings, QStringLiteral("15"),
                 QStringLiteral("10"), QStringLiteral("click"), QStringLiteral("1")});
        QStringList keys{QStringLiteral("key")};
        for (int k = 0; k < entry; ++k)
            keys << QStringLiteral("Down");
        xdotool(keys << QStringLiteral("Return"));
    }

    QString openHelp()
    {
        openHelpMenuEntry(1);
        QString help;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!(help = helpWindow()).isEmpty(), 10000); }();
        return help;
    }

    // Generate with the size list `downs` entries below Small.
    QString openMap(int downs)
    {
        QStringList keys(downs, QStringLiteral("Down"));
        typeInto(m_settings, keys << QStringLiteral("Return"));
        QString map;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!(map = mapWindow()).isEmpty(), 20000); }();
        return map;
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        QVERIFY2(m_desktop.start(), "no X server with a window manager could be started");
    }

    void init()
    {
        m_settings.clear();
        m_program.setProcessEnvironment(m_desktop.environment());
        m_program.start(QStringLiteral(TERRALUME_PROGRAM), QStringList());
        QVERIFY(m_program.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!(m_settings = window(QRegularExpression(QStringLiteral("^Terralume$")))).isEmpty(), 20000);
    }

    void cleanup()
    {
        m_program.kill();
        m_program.waitForFinished(10000);
    }

    void cleanupTestCase() { m_desktop.stop(); }

    void helpStaysUsableBesideAModalWindow_data()
    {
        QTest::addColumn<bool>("about");
        QTest::newRow("map") << false;
        QTest::newRow("about") << true;
    }

    void helpStaysUsableBesideAModalWindow()
    {
        QFETCH(bool, about);
        const QString help = openHelp();
        QVERIFY(!help.isEmpty());
        QString modal;
        if (about) {
            openHelpMenuEntry(2);
            QTRY_VERIFY_WITH_TIMEOUT(!(modal = window(QRegularExpression(QStringLiteral("^Terralume$")))).isEmpty(), 10000);
        } else {
            modal = openMap(0);
        }
        QVERIFY(!modal.isEmpty());

        // The window manager asks both to close, the settings window first:
        // the settings window stays blocked, help closes.
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), m_settings});
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), help});
        QTRY_VERIFY_WITH_TIMEOUT(helpWindow().isEmpty(), 10000);
        QCOMPARE(wmState(m_settings), QStringLiteral("window state: Normal"));
        QCOMPARE(wmState(modal), QStringLiteral("window state: Normal"));
        QCOMPARE(m_program.state(), QProcess::Running);
    }

    void mapWindowBelongsToTheSettingsWindow_data()
    {
        QTest::addColumn<bool>("minimiseMap");
        QTest::newRow("minimise the map") << true;
        QTest::newRow("minimise the settings window") << false;
    }

    void mapWindowBelongsToTheSettingsWindow()
    {
        QFETCH(bool, minimiseMap);
        const QString help = openHelp();
        QVERIFY(!help.isEmpty());
        const QString map = openMap(0);
        QVERIFY(!map.isEmpty());
        const QString owner = m_desktop.property(map, QStringLiteral("WM_TRANSIENT_FOR")).section(QLatin1Char('#'), 1).trimmed();
        QVERIFY2(XDesktop::sameWindow(owner, m_settings), qPrintable(owner));

        // Going to the settings window from elsewhere lands on the map.
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), help});
        QTRY_VERIFY_WITH_TIMEOUT(isActive(help), 10000);
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-a"), m_settings});
        QTRY_VERIFY_WITH_TIMEOUT(isActive(map), 10000);

        // Minimising either window minimises the program; bringing the
        // settings window back brings both, the map on top and active.
        xdotool({QStringLiteral("windowminimize"), minimiseMap ? map : m_settings});
        QTRY_COMPARE_WITH_TIMEOUT(wmState(map), QStringLiteral("window state: Iconic"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(wmState(m_settings), QStringLiteral("window state: Iconic"), 10000);
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-a"), m_settings});
        QTRY_COMPARE_WITH_TIMEOUT(wmState(map), QStringLiteral("window state: Normal"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(wmState(m_settings), QStringLiteral("window state: Normal"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(isActive(map), 10000);
        const QStringList stack = m_desktop.stacking();
        const auto position = [&stack](const QString &id) {
            for (qsizetype k = 0; k < stack.size(); ++k)
                if (XDesktop::sameWindow(stack[k], id))
                    return k;
            return qsizetype{-1};
        };
        QVERIFY2(position(m_settings) >= 0 && position(map) > position(m_settings), qPrintable(stack.join(u' ')));
    }

    void restoredMapWindowKeepsAFixedBorder()
    {
        // A Large map does not fit a 768-pixel screen: the window maximises.
        const QString map = openMap(2);
        QVERIFY(!map.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(m_desktop.property(map, QStringLiteral("_NET_WM_STATE")).contains(QLatin1String("MAXIMIZED")),
                                 20000);

        // Restored by the window manager: a fixed size again, which the
        // window has, within the screen.
        run(QStringLiteral("wmctrl"),
            {QStringLiteral("-i"), QStringLiteral("-r"), map, QStringLiteral("-b"), QStringLiteral("remove,maximized_vert,maximized_horz")});
        const QRegularExpression limits(QStringLiteral("minimum size: (\\d+) by (\\d+).*maximum size: (\\d+) by (\\d+)"),
                                        QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpression extent(QStringLiteral("Width: (\\d+).*Height: (\\d+)"), QRegularExpression::DotMatchesEverythingOption);
        const auto fixedAndTaken = [&] {
            if (m_desktop.property(map, QStringLiteral("_NET_WM_STATE")).contains(QLatin1String("MAXIMIZED")))
                return false;
            const auto hint = limits.match(m_desktop.property(map, QStringLiteral("WM_NORMAL_HINTS")));
            const auto size = extent.match(run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), map}));
            return hint.hasMatch() && size.hasMatch() && hint.captured(1) == hint.captured(3) &&
                   hint.captured(2) == hint.captured(4) && size.captured(1) == hint.captured(1) &&
                   size.captured(2) == hint.captured(2) && hint.captured(1).toInt() <= 1024 && hint.captured(2).toInt() <= 768;
        };
        QTRY_VERIFY_WITH_TIMEOUT(fixedAndTaken(), 20000);
    }
};

QTEST_GUILESS_MAIN(DesktopWindowsTest)
#include "DesktopWindowsTest.moc"
