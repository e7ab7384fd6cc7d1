// The settings window: keyboard use, the seed field's limit, and what a
// rejected seed leaves behind.

#include "Colouring.h"
#include "Generator.h"
#include "JpegRoundTrip.h"
#include "MapPicture.h"
#include "PageComposer.h"
#include "SeededRandom.h"
#include "TerralumeApplication.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace terralume;
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
        auto *widget = program.World1.findChild<QWidget *>(control);
        QVERIFY(widget);
        find<QLineEdit>(program.World1, "edTitle")->setText(QStringLiteral("By keyboard"));

        QString caption;
        const bool opened = withMapOpen(
            program.World1, program.WorldScr, [&](TWorldScr &map) { caption = map.windowTitle(); },
            [&] { QTest::keyClick(widget, static_cast<Qt::Key>(key)); });
        QVERIFY(opened);
        QCOMPARE(caption, QStringLiteral("Terralume - By keyboard"));
    }

    // Enter held down after it closed an error box or a map must not make a
    // map again: only a fresh press generates.
    // Both windows the settings window opens stay over it, as the desktop's
    // window list and stacking show the user.
    void openedWindowsBelongToTheSettingsWindow_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("Generate opens the map") << "butGenerate";
        QTest::newRow("About opens the about window") << "About1";
    }
    void openedWindowsBelongToTheSettingsWindow()
    {
        QFETCH(QString, entry);
        Program program;
        program.World1.show();
        QVERIFY(QTest::qWaitForWindowExposed(&program.World1));
        QWidget *opened = nullptr;
        const QWindow *owner = nullptr;
        QTimer::singleShot(0, [&] {
            opened = QApplication::activeModalWidget();
            if (!opened)
                return;
            owner = opened->windowHandle()->transientParent();
            opened->close();
        });
        if (auto *button = program.World1.findChild<QPushButton *>(entry))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            program.World1.findChild<QAction *>(entry)->trigger();
        QVERIFY2(opened, "no window was opened");
        QCOMPARE(owner, program.World1.windowHandle());
    }

    void heldEnterDoesNotGenerateAgain()
    {
        Program program;
        ShowCounter counter;
        program.WorldScr.installEventFilter(&counter);
        // Should the repeat generate after all, close the map it opened.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (program.WorldScr.isVisible())
                program.WorldScr.close();
        });
        closer.start(10);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), true);
        QApplication::sendEvent(find<QLineEdit>(program.World1, "edTitle"), &repeat);
        QCOMPARE(counter.shows, 0);
    }

    void seedFieldRefusesNinthCharacter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("digits") << "123456789"
                                << "12345678";
        QTest::newRow("letters") << "abcdefghij"
                                 << "abcdefgh";
    }
    void seedFieldRefusesNinthCharacter()
    {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        Program program;
        auto *seed = find<QLineEdit>(program.World1, "edRandSeed");
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
        program.WorldScr.installEventFilter(&mapShows);

        find<QComboBox>(program.World1, "lstSize")->setCurrentIndex(2);
        find<QLineEdit>(program.World1, "edRandSeed")->setText(seed);
        find<QSlider>(program.World1, "trkWater")->setValue(7);
        find<QSlider>(program.World1, "trkHeat")->setValue(-3);
        find<QLineEdit>(program.World1, "edTitle")->setText(QStringLiteral("Kept as typed"));
        const WorldSettings typed = program.World1.currentSettings();

        ErrorBoxWatcher watcher;
        pressGenerate(program.World1);

        QCOMPARE(watcher.boxes().size(), 1);
        const ShownBox &box = watcher.boxes().front();
        QCOMPARE(box.caption, QStringLiteral("Terralume"));
        QCOMPARE(box.text, QStringLiteral("'%1' is not a valid integer value.").arg(seed));
        QCOMPARE(box.format, Qt::PlainText); // the seed is shown as typed, never as markup
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        QCOMPARE(mapShows.shows, 0);
        QCOMPARE(program.random.seedWord(), 42861244u);
        const WorldSettings after = program.World1.currentSettings();
        QCOMPARE(after.SizeName, typed.SizeName);
        QCOMPARE(after.SeedText, seed);
        QCOMPARE(after.WaterPosition, 7);
        QCOMPARE(after.HeatPosition, -3);
        QCOMPARE(after.Title, typed.Title);

        // Corrected, the same press makes the map.
        find<QComboBox>(program.World1, "lstSize")->setCurrentIndex(0);
        find<QLineEdit>(program.World1, "edRandSeed")->setText(QStringLiteral("12"));
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [](TWorldScr &) {}));
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
        auto *track = program.World1.findChild<QSlider *>(slider);
        QVERIFY(track);
        program.World1.show();
        QVERIFY(QTest::qWaitForWindowExposed(&program.World1));

        // A click on the groove pages towards the click: the top end is the
        // minimum, the bottom end the maximum. The groove runs down the left
        // side, the ticks are on the right; how wide it is is the style's.
        QStyleOptionSlider option;
        option.initFrom(track);
        option.orientation = track->orientation();
        option.tickPosition = track->tickPosition();
        option.minimum = track->minimum();
        option.maximum = track->maximum();
        option.sliderPosition = option.sliderValue = track->value();
        option.subControls = QStyle::SC_All;
        const QRect groove = track->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, track);
        const int grooveX = groove.center().x();
        QVERIFY2(grooveX < track->width() / 2, "the groove is not on the left");
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

    void sliderKeysMoveAsATrackbar_data()
    {
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("position");
        for (const char *slider : {"trkWater", "trkHeat"}) {
            const QString name = QString::fromLatin1(slider);
            // Towards the top, the minimum ("Very Dry", "Very Hot").
            QTest::addRow("%s Up", slider) << name << int(Qt::Key_Up) << -1;
            QTest::addRow("%s Left", slider) << name << int(Qt::Key_Left) << -1;
            QTest::addRow("%s Page Up", slider) << name << int(Qt::Key_PageUp) << -5;
            // Towards the bottom.
            QTest::addRow("%s Down", slider) << name << int(Qt::Key_Down) << 1;
            QTest::addRow("%s Right", slider) << name << int(Qt::Key_Right) << 1;
            QTest::addRow("%s Page Down", slider) << name << int(Qt::Key_PageDown) << 5;
        }
    }
    void sliderKeysMoveAsATrackbar()
    {
        QFETCH(QString, slider);
        QFETCH(int, key);
        QFETCH(int, position);
        Program program;
        program.World1.show();
        QApplication::setActiveWindow(&program.World1);
        QVERIFY(QTest::qWaitForWindowActive(&program.World1));
        auto *track = program.World1.findChild<QSlider *>(slider);
        track->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key));
        QCOMPARE(track->value(), position);
        // Twice: a second press goes on in the same direction.
        QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key));
        QCOMPARE(track->value(), 2 * position);
    }

    // The size list has the focus from the start and shows its focus frame
    // before any key is pressed: drawn with the focus, it differs from the
    // same list drawn once the focus has gone elsewhere by a mouse click.
    void focusFrameShowsFromTheStart()
    {
        Program program;
        program.World1.show();
        QApplication::setActiveWindow(&program.World1);
        QVERIFY(QTest::qWaitForWindowActive(&program.World1));
        auto *list = find<QComboBox>(program.World1, "lstSize");
        QVERIFY(list->hasFocus());
        const QImage focused = list->grab().toImage();

        auto *seed = find<QLineEdit>(program.World1, "edRandSeed");
        QTest::mouseClick(seed, Qt::LeftButton);
        QVERIFY(seed->hasFocus());
        QVERIFY(list->grab().toImage() != focused);
    }

    // A pasted title of any length is kept whole and becomes the caption.
    void titleTakesAnyLength()
    {
        Program program;
        QString title;
        for (int i = 0; title.size() < 100000; ++i)
            title += QStringLiteral("%1 ").arg(i);
        title.truncate(100000);
        QApplication::clipboard()->setText(title);
        auto *field = find<QLineEdit>(program.World1, "edTitle");
        field->setFocus();
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field->text().size(), title.size());
        QCOMPARE(program.World1.currentSettings().Title, title);

        QString caption;
        QImage view;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            caption = map.windowTitle();
            view = map.viewImage();
        }));
        QCOMPARE(caption, QStringLiteral("Terralume - ") + title);

        // On the page the caption is one line centred on the page: far wider
        // than the page, it is cut to the page's width and fills it edge to edge.
        QImage page(850, 1100, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        const print::PageLayout layout =
            print::composePage(painter, page.width(), page.height(), 100, {caption, QStringLiteral("Small"), 0, 0, {}},
                               print::ReJigPallete(view), {});
        painter.end();
        QVERIFY(layout.title.left() >= 0 && layout.title.right() < page.width());
        const QRect band(0, layout.title.top(), page.width(), layout.title.height());
        for (const QRect edge : {QRect(band.topLeft(), QSize(40, band.height())),
                                 QRect(band.topRight() - QPoint(39, 0), QSize(40, band.height()))}) {
            bool inked = false;
            for (int y = edge.top(); y <= edge.bottom() && !inked; ++y)
                for (int x = edge.left(); x <= edge.right() && !inked; ++x)
                    inked = page.pixel(x, y) != qRgb(255, 255, 255);
            QVERIFY2(inked, "the title does not reach this edge of the page");
        }
    }

    // The die button: a fresh seed in the field, a map made from it, and the
    // seed it replaced one undo away.
    void newSeedButtonGeneratesFromAFreshSeed_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("initial seed") << "42861244";
        QTest::newRow("hexadecimal seed") << "$7F";
        QTest::newRow("rejected seed") << "12a";
        QTest::newRow("empty field") << "";
    }
    void newSeedButtonGeneratesFromAFreshSeed()
    {
        QFETCH(QString, before);
        Program program;
        program.World1.show();
        QApplication::setActiveWindow(&program.World1);
        QVERIFY(QTest::qWaitForWindowActive(&program.World1));
        auto *field = find<QLineEdit>(program.World1, "edRandSeed");
        field->setText(before);

        WorldSettings shown;
        QImage picture;
        QVERIFY(withMapOpen(
            program.World1, program.WorldScr,
            [&](TWorldScr &map) {
                shown = map.shownSettings();
                picture = map.viewImage().copy();
            },
            [&] { QTest::mouseClick(find<QPushButton>(program.World1, "butNewSeed"), Qt::LeftButton); }));

        const QString fresh = field->text();
        QCOMPARE(shown.SeedText, fresh);
        QVERIFY(fresh != before);
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9]{1,8}$")).match(fresh).hasMatch(), qPrintable(fresh));
        // The map is the one a fresh run makes from that seed.
        SeededRandom random;
        random.LoadSeed(fresh.toStdString());
        World world;
        GenerateHeights(world, "Small", 0, random);
        QVERIFY(picture == drawMapPicture(world, Tint{}));

        field->setFocus();
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field->text(), before);
    }

    // Beside the seed field, clear of every control the design places, and
    // named for a screen reader as its tooltip reads.
    void newSeedButtonSitsBesideTheSeedField()
    {
        Program program;
        const auto *button = find<QPushButton>(program.World1, "butNewSeed");
        QCOMPARE(button->toolTip(), QStringLiteral("New random seed"));
        QCOMPARE(button->accessibleName(), QStringLiteral("New random seed"));
        QVERIFY(button->text().isEmpty());
        QVERIFY(!button->icon().isNull());
        const QRect seed = find<QWidget>(program.World1, "edRandSeed")->geometry();
        const QRect placed = button->geometry();
        QVERIFY(placed.left() > seed.right());
        QVERIFY(placed.top() < seed.bottom() && placed.bottom() > seed.top());
        for (const QWidget *control : button->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (control != button)
                QVERIFY2(!control->geometry().intersects(placed), qPrintable(control->objectName()));
    }

    // What a screen reader hears for a slider's position: the caption
    // beside that stretch of the slider, then the number. The bands meet
    // halfway between two captions, the middle one taking the halves.
    void sliderDescriptionNamesTheBand_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("water");
        QTest::addColumn<QString>("heat");
        const struct {
            int position;
            const char *water;
            const char *heat;
        } rows[] = {
            {-40, "Very Dry, −40", "Very Hot, −40"},
            {-31, "Very Dry, −31", "Very Hot, −31"},
            {-30, "Dry, −30", "Hot, −30"},
            {-15, "Dry, −15", "Hot, −15"},
            {-11, "Dry, −11", "Hot, −11"},
            {-10, "Normal, −10", "Normal, −10"},
            {0, "Normal, 0", "Normal, 0"},
            {10, "Normal, 10", "Normal, 10"},
            {11, "Wet, 11", "Cold, 11"},
            {30, "Wet, 30", "Cold, 30"},
            {31, "Very Wet, 31", "Very Cold, 31"},
            {40, "Very Wet, 40", "Very Cold, 40"},
        };
        for (const auto &row : rows)
            QTest::addRow("%d", row.position)
                << row.position << QString::fromUtf8(row.water) << QString::fromUtf8(row.heat);
    }
    void sliderDescriptionNamesTheBand()
    {
        QFETCH(int, position);
        QFETCH(QString, water);
        QFETCH(QString, heat);
        Program program;
        // From the other end first, so that every row is a change.
        for (const auto &[name, expected] : {std::pair{"trkWater", water}, std::pair{"trkHeat", heat}}) {
            auto *slider = find<QSlider>(program.World1, name);
            slider->setValue(position > 0 ? -kLevelLimit : kLevelLimit);
            slider->setValue(position);
            QCOMPARE(QAccessible::queryAccessibleInterface(slider)->text(QAccessible::Description), expected);
        }
    }

    void focusStartsOnSizeListAndTabsInOrder()
    {
        Program program;
        program.World1.show();
        QApplication::setActiveWindow(&program.World1);
        QVERIFY(QTest::qWaitForWindowActive(&program.World1));
        QCOMPARE(QApplication::focusWidget(), find<QWidget>(program.World1, "lstSize"));

        const char *const order[] = {"edRandSeed", "butNewSeed",  "trkWater", "trkHeat",
                                     "edTitle",    "butGenerate", "butExit",  "lstSize"};
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
