// The program's windows as a user meets them on a real X server with a
// window manager: help beside a modal window, the map window as part of the
// one application, a map window whose border stays fixed, and title bars
// without a maximise button.
#include "XDesktop.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

class DesktopWindowsTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;
    QProcess program_;
    QString settings_;

    QString run(const QString &program, const QStringList &args) { return desktop_.run(program, args); }
    QString xdotool(const QStringList &args) { return run(QStringLiteral("xdotool"), args); }

    // The first listed window whose title matches; empty while there is none.
    QString window(const QRegularExpression &title) const
    {
        for (const auto &[id, listed] : desktop_.windows())
            if (title.match(listed).hasMatch() && !XDesktop::sameWindow(id, settings_))
                return id;
        return QString();
    }
    QString mapWindow() const { return window(QRegularExpression(QStringLiteral("^Terralume - "))); }
    QString helpWindow() const { return window(QRegularExpression(QStringLiteral("^Terralume Help$"))); }

    QString wmState(const QString &id) const
    {
        return desktop_.property(id, QStringLiteral("WM_STATE")).section(QLatin1Char('\n'), 1, 1).trimmed();
    }
    bool isActive(const QString &id) const { return XDesktop::sameWindow(desktop_.activeWindow(), id); }

    void typeInto(const QString &id, const QStringList &keys)
    {
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
        xdotool(QStringList{QStringLiteral("key")} + keys);
    }

    // Help > Help (first entry) or Help > About (second), with the mouse on
    // the menu bar as a user does it: the first menu, World, opened, then
    // the one to its right, which opens with its first entry selected.
    void openHelpMenuEntry(int entry)
    {
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), settings_});
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), settings_, QStringLiteral("15"),
                 QStringLiteral("10"), QStringLiteral("click"), QStringLiteral("1")});
        QStringList keys{QStringLiteral("key"), QStringLiteral("Right")};
        for (int k = 1; k < entry; ++k)
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
        typeInto(settings_, keys << QStringLiteral("Return"));
        QString map;
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!(map = mapWindow()).isEmpty(), 20000); }();
        return map;
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        QVERIFY2(desktop_.start(), "no X server with a window manager could be started");
    }

    void init()
    {
        settings_.clear();
        program_.setProcessEnvironment(desktop_.environment());
        program_.start(QStringLiteral(TERRALUME_PROGRAM), QStringList());
        QVERIFY(program_.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!(settings_ = window(QRegularExpression(QStringLiteral("^Terralume$")))).isEmpty(),
                                 20000);
    }

    void cleanup()
    {
        program_.kill();
        program_.waitForFinished(10000);
    }

    void cleanupTestCase() { desktop_.stop(); }

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
            QTRY_VERIFY_WITH_TIMEOUT(!(modal = window(QRegularExpression(QStringLiteral("^Terralume$")))).isEmpty(),
                                     10000);
        } else {
            modal = openMap(0);
        }
        QVERIFY(!modal.isEmpty());

        // The window manager asks both to close, the settings window first:
        // the settings window stays blocked, help closes.
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), settings_});
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), help});
        QTRY_VERIFY_WITH_TIMEOUT(helpWindow().isEmpty(), 10000);
        QCOMPARE(wmState(settings_), QStringLiteral("window state: Normal"));
        QCOMPARE(wmState(modal), QStringLiteral("window state: Normal"));
        QCOMPARE(program_.state(), QProcess::Running);
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
        const QString owner =
            desktop_.property(map, QStringLiteral("WM_TRANSIENT_FOR")).section(QLatin1Char('#'), 1).trimmed();
        QVERIFY2(XDesktop::sameWindow(owner, settings_), qPrintable(owner));

        // Going to the settings window from elsewhere lands on the map.
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), help});
        QTRY_VERIFY_WITH_TIMEOUT(isActive(help), 10000);
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-a"), settings_});
        QTRY_VERIFY_WITH_TIMEOUT(isActive(map), 10000);

        // Minimising either window minimises the program; bringing the
        // settings window back brings both, the map on top and active.
        xdotool({QStringLiteral("windowminimize"), minimiseMap ? map : settings_});
        QTRY_COMPARE_WITH_TIMEOUT(wmState(map), QStringLiteral("window state: Iconic"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(wmState(settings_), QStringLiteral("window state: Iconic"), 10000);
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-a"), settings_});
        QTRY_COMPARE_WITH_TIMEOUT(wmState(map), QStringLiteral("window state: Normal"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(wmState(settings_), QStringLiteral("window state: Normal"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(isActive(map), 10000);
        const QStringList stack = desktop_.stacking();
        const auto position = [&stack](const QString &id) {
            for (qsizetype k = 0; k < stack.size(); ++k)
                if (XDesktop::sameWindow(stack[k], id))
                    return k;
            return qsizetype{-1};
        };
        QVERIFY2(position(settings_) >= 0 && position(map) > position(settings_), qPrintable(stack.join(u' ')));
    }

    // The settings, about and map windows have the system menu, minimise and
    // close: the window manager is told of no maximise, offers none, and
    // turns a request for it down.
    void titleBarHasNoMaximise_data()
    {
        QTest::addColumn<QString>("window");
        QTest::newRow("settings") << QStringLiteral("settings");
        QTest::newRow("about") << QStringLiteral("about");
        QTest::newRow("map") << QStringLiteral("map");
    }

    void titleBarHasNoMaximise()
    {
        QFETCH(QString, window);
        QString id = settings_;
        if (window == QLatin1String("about")) {
            openHelpMenuEntry(2);
            QTRY_VERIFY_WITH_TIMEOUT(!(id = this->window(QRegularExpression(QStringLiteral("^Terralume$")))).isEmpty(),
                                     10000);
        } else if (window == QLatin1String("map")) {
            id = openMap(0);
        }
        QVERIFY(!id.isEmpty());

        // Motif's hints: which fields count, the functions, the decorations.
        enum : uint { kFunctions = 1, kDecorations = 2 };
        enum : uint { kMinimiseFunction = 8, kMaximiseFunction = 16, kCloseFunction = 32 };
        enum : uint { kMenuDecoration = 16, kMinimiseDecoration = 32, kMaximiseDecoration = 64 };
        const QStringList motif =
            desktop_.property(id, QStringLiteral("_MOTIF_WM_HINTS")).section(QLatin1Char('='), 1).split(u',');
        QVERIFY2(motif.size() >= 3, qPrintable(motif.join(u',')));
        const auto field = [&](int i) { return motif[i].trimmed().toUInt(nullptr, 16); };
        QCOMPARE(field(0) & (kFunctions | kDecorations), uint(kFunctions | kDecorations));
        QCOMPARE(field(1) & (kMinimiseFunction | kMaximiseFunction | kCloseFunction),
                 uint(kMinimiseFunction | kCloseFunction));
        QCOMPARE(field(2) & (kMenuDecoration | kMinimiseDecoration | kMaximiseDecoration),
                 uint(kMenuDecoration | kMinimiseDecoration));
        const auto hints =
            QRegularExpression(QStringLiteral("minimum size: (\\d+ by \\d+).*maximum size: (\\d+ by \\d+)"),
                               QRegularExpression::DotMatchesEverythingOption)
                .match(desktop_.property(id, QStringLiteral("WM_NORMAL_HINTS")));
        QVERIFY(hints.hasMatch());
        QCOMPARE(hints.captured(1), hints.captured(2));

        // What the window manager makes of it.
        const QString allowed = desktop_.property(id, QStringLiteral("_NET_WM_ALLOWED_ACTIONS"));
        QVERIFY2(allowed.contains(QLatin1String("_NET_WM_ACTION_MINIMIZE")) &&
                     allowed.contains(QLatin1String("_NET_WM_ACTION_CLOSE")) &&
                     !allowed.contains(QLatin1String("_NET_WM_ACTION_MAXIMIZE")),
                 qPrintable(allowed));
        // Requests are handled in order: once the second is granted, the
        // first has been turned down.
        for (const char *change : {"add,maximized_vert,maximized_horz", "add,below"})
            run(QStringLiteral("wmctrl"),
                {QStringLiteral("-i"), QStringLiteral("-r"), id, QStringLiteral("-b"), QString::fromLatin1(change)});
        QString state;
        QTRY_VERIFY_WITH_TIMEOUT(
            (state = desktop_.property(id, QStringLiteral("_NET_WM_STATE"))).contains(QLatin1String("BELOW")), 10000);
        QVERIFY2(!state.contains(QLatin1String("MAXIMIZED")), qPrintable(state));
    }

    void restoredMapWindowKeepsAFixedBorder()
    {
        // A Large map does not fit a 768-pixel screen: the window maximises.
        const QString map = openMap(2);
        QVERIFY(!map.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(
            desktop_.property(map, QStringLiteral("_NET_WM_STATE")).contains(QLatin1String("MAXIMIZED")), 20000);

        // Restored by the window manager: a fixed size again, which the
        // window has, within the screen.
        run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-r"), map, QStringLiteral("-b"),
                                       QStringLiteral("remove,maximized_vert,maximized_horz")});
        const QRegularExpression limits(
            QStringLiteral("minimum size: (\\d+) by (\\d+).*maximum size: (\\d+) by (\\d+)"),
            QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpression extent(QStringLiteral("Width: (\\d+).*Height: (\\d+)"),
                                        QRegularExpression::DotMatchesEverythingOption);
        const auto fixedAndTaken = [&] {
            if (desktop_.property(map, QStringLiteral("_NET_WM_STATE")).contains(QLatin1String("MAXIMIZED")))
                return false;
            const auto hint = limits.match(desktop_.property(map, QStringLiteral("WM_NORMAL_HINTS")));
            const auto size = extent.match(run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), map}));
            return hint.hasMatch() && size.hasMatch() && hint.captured(1) == hint.captured(3) &&
                   hint.captured(2) == hint.captured(4) && size.captured(1) == hint.captured(1) &&
                   size.captured(2) == hint.captured(2) && hint.captured(1).toInt() <= 1024 &&
                   hint.captured(2).toInt() <= 768;
        };
        QTRY_VERIFY_WITH_TIMEOUT(fixedAndTaken(), 20000);
    }
};

QTEST_GUILESS_MAIN(DesktopWindowsTest)
#include "DesktopWindowsTest.moc"
