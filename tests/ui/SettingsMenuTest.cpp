// The settings window's Help menu: About shows the one about window modally,
// as often as asked; Help opens one help window owned by the settings window.
#include "HelpWindow.h"
#include "ProgramWindows.h"

#include <QAction>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace terralume;
using namespace terralume::ui;

class SettingsMenuTest : public QObject {
    Q_OBJECT

private slots:
    void aboutShowsTheSameWindowModallyEachTime()
    {
        ProgramWindows windows;
        TWorld1 &settings = windows.World1;
        TWorldSplash &about = windows.WorldSplash;
        auto *aboutEntry = settings.findChild<QAction *>(QStringLiteral("About1"));
        QVERIFY(aboutEntry);

        for (int showing = 0; showing < 2; ++showing) {
            bool wasModal = false;
            QTimer::singleShot(0, [&] {
                wasModal = QApplication::activeModalWidget() == &about && about.isVisible();
                QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("butOK")), Qt::LeftButton);
            });
            aboutEntry->trigger(); // returns when OK has closed it
            QVERIFY2(wasModal, "About must show the about window modally");
            QVERIFY(!about.isVisible());
        }
        QCOMPARE(settings.findChildren<TWorldSplash *>().size(), 1);
    }

    void helpOpensOneWindowOwnedByTheSettingsWindow()
    {
        SeededRandom random;
        TWorld1 settings(random);
        auto *helpEntry = settings.findChild<QAction *>(QStringLiteral("Help2"));
        QVERIFY(helpEntry);
        helpEntry->trigger();
        HelpWindow *opened = HelpWindow::of(&settings);
        QVERIFY(opened);
        QVERIFY(opened->isVisible());
        QVERIFY(opened->helpFound());
        opened->close();
        helpEntry->trigger();
        QCOMPARE(HelpWindow::of(&settings), opened);
        QVERIFY(opened->isVisible());
        int helpWindows = 0;
        for (QWidget *window : QApplication::topLevelWidgets())
            helpWindows += qobject_cast<HelpWindow *>(window) != nullptr;
        QCOMPARE(helpWindows, 1);
    }
};

QTEST_MAIN(SettingsMenuTest)
#include "SettingsMenuTest.moc"
