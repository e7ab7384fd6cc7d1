// Save Picture As through the real file dialog on a real X server: the name
// the dialog proposes, accepted as it is, is the file that is written.
#include "XDesktop.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class DesktopSaveTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;

    QString xdotool(const QStringList &args) { return desktop_.run(QStringLiteral("xdotool"), args); }

    QString window(const QString &pattern) const { return desktop_.windowTitled(pattern); }
    void keys(const QString &id, const QStringList &names) { desktop_.sendKeys(id, names); }

    void type(const QString &id, const QString &text)
    {
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id});
        xdotool({QStringLiteral("type"), QStringLiteral("--clearmodifiers"), QStringLiteral("--delay"),
                 QStringLiteral("20"), text});
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        QVERIFY2(desktop_.start(), "no X server with a window manager could be started");
    }

    void cleanupTestCase() { desktop_.stop(); }

    void acceptedProposalIsTheFileWritten_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("file");
        QTest::newRow("quotes") << "The \"Lost\" Isles"
                                << "The _Lost_ Isles-7.png";
        QTest::newRow("folders, wildcards, dots") << "..a/b\\c:d*e?f<g>h|i. "
                                                  << "__a_b_c_d_e_f_g_h_i__-7.png";
    }

    void acceptedProposalIsTheFileWritten()
    {
        QFETCH(QString, title);
        QFETCH(QString, file);
        // A home of its own: the first save goes to the home folder, and the
        // folder it remembers stays here.
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment env = desktop_.environment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral(".config")));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TERRALUME_PROGRAM), QStringList());
        QVERIFY(program.waitForStarted(10000));
        const auto stop = qScopeGuard([&] {
            program.kill();
            program.waitForFinished(10000);
        });

        QString settings;
        QTRY_VERIFY_WITH_TIMEOUT(!(settings = window(QStringLiteral("^Terralume$"))).isEmpty(), 20000);
        // The size list has the focus; the seed field and the title field
        // follow it in tab order, with the sliders between.
        keys(settings, {QStringLiteral("Tab"), QStringLiteral("ctrl+a")});
        type(settings, QStringLiteral("7"));
        keys(settings, {QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab")});
        type(settings, title);
        keys(settings, {QStringLiteral("Return")});
        QString map;
        QTRY_VERIFY_WITH_TIMEOUT(!(map = window(QStringLiteral("^Terralume - "))).isEmpty(), 30000);

        // File > Save Picture As…, the second entry, from the menu bar.
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), map});
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), map, QStringLiteral("15"),
                 QStringLiteral("10"), QStringLiteral("click"), QStringLiteral("1")});
        xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
        QString dialog;
        QTRY_VERIFY_WITH_TIMEOUT(!(dialog = window(QStringLiteral("^Save Picture As$"))).isEmpty(), 20000);
        keys(dialog, {QStringLiteral("Return")});

        const QString written = QDir(home.path()).filePath(file);
        const auto listing = [&] { return QDir(home.path()).entryList(QDir::Files | QDir::Hidden).join(u'|'); };
        QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(written), qPrintable(listing()), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(window(QStringLiteral("^Save Picture As$")).isEmpty(), 20000);
        QCOMPARE(listing(), file);
        QFile png(written);
        QVERIFY(png.open(QIODevice::ReadOnly));
        QCOMPARE(png.read(8), QByteArray("\x89PNG\r\n\x1a\n"));
    }
};

QTEST_GUILESS_MAIN(DesktopSaveTest)
#include "DesktopSaveTest.moc"
