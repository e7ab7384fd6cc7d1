// The settings window: keyboard use, the seed field's limit, and what a
// rejected seed leaves behind.

#include "SeededRandom.h"
#include "TerralumeApplication.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>

using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {

// Counts the times a window is shown.
class ShowCounter : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT
private slots:
    void enterPressesGenerate_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("key");
        QTest::newRow("Return in the seed field") << "edRandSeed" << int(Qt::Key_Return);
        QTest::newRow("keypad Enter in the seed field") << "edRandSeed" << int(Qt::Key_Enter);
        QTest::newRow("Return in the title field") << "edTitle" << int(Qt::Key_Return);
        QTest::newRow("Return on the size list") << "lstSize" << int(Qt::Key_Return);
    }
    void enterPressesGenerate()
    {
        QFETCH(QString, control);
        QFETCH(int, key);
        Program program;
        auto *widget = program.settings.findChild<QWidget *>(control);
        QVERIFY(widget);
        find<QLineEdit>(program.settings, "edTitle")->setText(QStringLiteral("By keyboard"));

        QString caption;
        const bool opened = withMapOpen(
            program.settings, program.map, [&](TWorldScr &map) { caption = map.windowTitle(); },
            [&] { QTest::keyClick(widget, static_cast<Qt::Key>(key)); });
        QVERIFY(opened);
        QCOMPARE(caption, QStringLiteral("Terralume - By keyboard"));
    }

    // Enter held down after it closed an error box or a map must not make a
    // map again: only a fresh press generates.
    void heldEnterDoesNotGenerateAgain()
    {
        Program program;
        ShowCounter counter;
        program.map.installEventFilter(&counter);
        // Should the repeat generate after all, close the map it opened.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (program.map.isVisible())
                program.map.close();
        });
        closer.start(10);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), true);
        QApplication::sendEvent(find<QLineEdit>(program.settings, "edTitle"), &repeat);
        QCOMPARE(counter.shows, 0);
    }

    void seedFieldRefusesNinthCharacter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("digits") << "123456789" << "12345678";
        QTest::newRow("letters") << "abcdefghij" << "abcdefgh";
    }
    void seedFieldRefusesNinthCharacter()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        Program program;
        auto *seed = find<QLineEdit>(program.settings, "edRandSeed");
        seed->clear();
        QTest::keyClicks(seed, typed);
        QCOMPARE(seed->text(), kept);
    }

    void rejectedSeedShowsErrorAndNoMap_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::newRow("empty") << "";
        QTest::newRow("trailing letter") << "12a";
        QTest::newRow("exponent") << "1e3";
        QTest::newRow("looks like markup") << "<b>1</b>";
    }
    void rejectedSeedShowsErrorAndNoMap()
    {
        QFETCH(QString, seed);
        Program program;
        ShowCounter mapShows;
        program.map.installEventFilter(&mapShows);

        find<QComboBox>(program.settings, "lstSize")->setCurrentIndex(2);
        find<QLineEdit>(program.settings, "edRandSeed")->setText(seed);
        find<QSlider>(program.settings, "trkWater")->setValue(7);
        find<QSlider>(program.settings, "trkHeat")->setValue(-3);
        find<QLineEdit>(program.settings, "edTitle")->setText(QStringLiteral("Kept as typed"));
        const WorldSettings typed = program.settings.currentSettings();

        ErrorBoxWatcher watcher;
        pressGenerate(program.settings);

        QCOMPARE(watcher.boxes().size(), 1);
        const ShownBox &box = watcher.boxes().front();
        QCOMPARE(box.caption, QStringLiteral("Terralume"));
        QCOMPARE(box.text, QStringLiteral("'%1' is not a valid integer value.").arg(seed));
        QCOMPARE(box.format, Qt::PlainText); // the seed is shown as typed, never as markup
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        QCOMPARE(mapShows.shows, 0);
        QCOMPARE(program.random.seedWord(), 42861244u);
        const WorldSettings after = program.settings.currentSettings();
        QCOMPARE(after.SizeName, typed.SizeName);
        QCOMPARE(after.SeedText, seed);
        QCOMPARE(after.WaterPosition, 7);
        QCOMPARE(after.HeatPosition, -3);
        QCOMPARE(after.Title, typed.Title);

        // Corrected, the same press makes the map.
        find<QComboBox>(program.settings, "lstSize")->setCurrentIndex(0);
        find<QLineEdit>(program.settings, "edRandSeed")->setText(QStringLiteral("12"));
        QVERIFY(withMapOpen(program.settings, program.map, [](TWorldScr &) {}));
        QCOMPARE(mapShows.shows, 1);
    }

    void slidersRunFromMinimumAtTop_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::newRow("water") << "trkWater";
        QTest::newRow("heat") << "trkHeat";
    }
    void slidersRunFromMinimumAtTop()
    {
        QFETCH(QString, slider);
        Program program;
        auto *track = program.settings.findChild<QSlider *>(slider);
        QVERIFY(track);
        program.settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&program.settings));

        // A click on the groove pages towards the click: the top end is the
        // minimum, the bottom end the maximum. The groove runs down the left
        // side, the ticks are on the right.
        const int grooveX = track->width() / 4;
        QTest::mouseClick(track, Qt::LeftButton, {}, QPoint(grooveX, track->height() / 5));
        QCOMPARE(track->value(), -5);
        track->setValue(0);
        QTest::mouseClick(track, Qt::LeftButton, {}, QPoint(grooveX, track->height() * 4 / 5));
        QCOMPARE(track->value(), 5);
        track->setValue(0);

        // Up moves towards the top (the minimum) by one, Page Down five
        // towards the bottom; the ends are -40 and 40.
        QTest::keyClick(track, Qt::Key_Up);
        QCOMPARE(track->value(), -1);
        QTest::keyClick(track, Qt::Key_PageDown);
        QCOMPARE(track->value(), 4);
        QTest::keyClick(track, Qt::Key_Down);
        QCOMPARE(track->value(), 5);
        for (int i = 0; i < 20; ++i)
            QTest::keyClick(track, Qt::Key_PageUp);
        QCOMPARE(track->value(), -40);
        for (int i = 0; i < 20; ++i)
            QTest::keyClick(track, Qt::Key_PageDown);
        QCOMPARE(track->value(), 40);
    }

    void focusStartsOnSizeListAndTabsInOrder()
    {
        Program program;
        program.settings.show();
        QApplication::setActiveWindow(&program.settings);
        QVERIFY(QTest::qWaitForWindowActive(&program.settings));
        QCOMPARE(QApplication::focusWidget(), find<QWidget>(program.settings, "lstSize"));

        const char *const order[] = {"edRandSeed", "trkWater", "trkHeat", "edTitle", "butGenerate", "butExit",
                                     "lstSize"};
        for (const char *next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(next));
        }
    }
};

int main(int argc, char *argv[])
{
    TerralumeApplication application(argc, argv);
    SettingsWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SettingsWindowTest.moc"
