// The map window as Generate shows it: the picture against the renderer,
// the caption, the tint, zooming, fitting to the screen, and a zoom that
// cannot get its memory.

#include "Generator.h"
#include "MapPicture.h"
#include "SeededRandom.h"
#include "TerralumeApplication.h"
#include "UiTestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <cmath>
#include <cstring>
#include <new>

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {

void enterSettings(TWorld1 &window, const QString &size, const QString &seed, int water, int heat,
                   const QString &title = {})
{
    auto *sizes = find<QComboBox>(window, "lstSize");
    sizes->setCurrentIndex(sizes->findText(size));
    find<QLineEdit>(window, "edRandSeed")->setText(seed);
    find<QSlider>(window, "trkWater")->setValue(water);
    find<QSlider>(window, "trkHeat")->setValue(heat);
    find<QLineEdit>(window, "edTitle")->setText(title);
}

// The map a fresh run makes for these settings, straight from the core.
QImage coreMap(const QString &size, const QString &seed, int water, Tint tint)
{
    SeededRandom random;
    random.LoadSeed(seed.toStdString());
    World world;
    GenerateHeights(world, size.toStdString(), water, random);
    return drawMapPicture(world, tint);
}

// Whether every pixel of `view` is the base cell it magnifies.
bool isZoomOf(const QImage &view, const QImage &base, int zoom)
{
    if (view.width() != (base.width() - 1) * zoom || view.height() != (base.height() - 1) * zoom)
        return false;
    for (int y = 0; y < view.height(); ++y) {
        const auto *shown = reinterpret_cast<const std::uint16_t *>(view.constScanLine(y));
        const auto *cells = reinterpret_cast<const std::uint16_t *>(base.constScanLine(y / zoom));
        for (int x = 0; x < view.width(); ++x)
            if (shown[x] != cells[x / zoom])
                return false;
    }
    return true;
}

void trigger(const TWorldScr &map, int zoom) { zoomEntries(map)[zoom - 1]->trigger(); }

QWidget *viewOf(const TWorldScr &map) { return find<QScrollArea>(map, "ScrollBox1")->viewport(); }

// The map cell drawn at `point` of the view, in cells with their fraction:
// the picture pixel there over the pixels a cell takes at the zoom.
QPointF cellAt(const TWorldScr &map, QPointF point)
{
    const QWidget *image = find<QWidget>(map, "Image1");
    return image->mapFrom(viewOf(map), point) * image->devicePixelRatioF() / map.zoomFactor();
}

QPointF centreOf(const QWidget *view) { return QPointF(view->width() / 2.0, view->height() / 2.0); }

// Whether two cells are the same within one cell: a scroll position is a
// whole view pixel, a cell at x1 one pixel wide.
bool sameCell(QPointF a, QPointF b) { return std::abs(a.x() - b.x()) <= 1 && std::abs(a.y() - b.y()) <= 1; }

QString describe(QPointF a, QPointF b)
{
    return QStringLiteral("(%1, %2) against (%3, %4)").arg(a.x()).arg(a.y()).arg(b.x()).arg(b.y());
}

// Scrolls the view to `fraction` of each bar's range.
void scrollTo(const TWorldScr &map, double fraction)
{
    const auto *box = find<QScrollArea>(map, "ScrollBox1");
    for (QScrollBar *bar : {box->horizontalScrollBar(), box->verticalScrollBar()})
        bar->setValue(static_cast<int>(bar->maximum() * fraction));
}

// A Large map on a screen too small for it: the window is maximised, and
// the view scrolls at every zoom.
struct ScrollingProgram : Program {
    ScrollingProgram()
    {
        WorldScr.setScreenSize(QSize(640, 480));
        auto *sizes = find<QComboBox>(World1, "lstSize");
        sizes->setCurrentIndex(sizes->findText(QStringLiteral("Large")));
    }
};

// The program's application object, counting the errors that reach it
// through Qt's event dispatch: the windows' handlers and filters report
// their own, so none should.
class DispatchWatch : public TerralumeApplication {
public:
    using TerralumeApplication::TerralumeApplication;
    int errorsThroughDispatch = 0;

    bool notify(QObject *receiver, QEvent *event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            ++errorsThroughDispatch;
            reportError(std::current_exception());
            return false;
        }
    }
};

int errorsThroughDispatch()
{
    return static_cast<DispatchWatch *>(QCoreApplication::instance())->errorsThroughDispatch;
}

void sendWheel(const TWorldScr &map, QPointF atInView, int turn, Qt::KeyboardModifiers modifiers)
{
    // To the view, where the scroll box takes a wheel turn without Ctrl.
    QWidget *view = viewOf(map);
    QWheelEvent wheel(atInView, view->mapToGlobal(atInView), QPoint(), QPoint(0, turn), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
}

} // namespace

class MapWindowTest : public QObject {
    Q_OBJECT
private slots:
    void pictureMatchesRenderer_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<int>("water");
        QTest::addColumn<int>("heat");
        QTest::newRow("initial settings") << "Small"
                                          << "42861244" << 0 << 0;
        QTest::newRow("large, wet and cold") << "Large"
                                             << "1234" << 12 << 30;
        QTest::newRow("medium, dry and hot, hex seed") << "Medium"
                                                       << "$7F" << -20 << -35;
    }
    void pictureMatchesRenderer()
    {
        QFETCH(QString, size);
        QFETCH(QString, seed);
        QFETCH(int, water);
        QFETCH(int, heat);
        Program program;
        enterSettings(program.World1, size, seed, water, heat);

        QImage shown;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) { shown = map.viewImage().copy(); }));
        QCOMPARE(shown.format(), QImage::Format_RGB16);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString png = dir.filePath(QStringLiteral("map.png"));
        QProcess render;
        render.start(QStringLiteral(TERRALUME_RENDER_PATH),
                     {QStringLiteral("--size"), size, QStringLiteral("--seed"), seed, QStringLiteral("--water"),
                      QString::number(water), QStringLiteral("--heat"), QString::number(heat), QStringLiteral("--png"),
                      png});
        QVERIFY(render.waitForFinished(120000));
        QCOMPARE(render.exitCode(), 0);
        const QImage rendered(png);
        QCOMPARE(rendered.size(), shown.size());
        QVERIFY(rendered.convertToFormat(QImage::Format_RGB888) == shown.convertToFormat(QImage::Format_RGB888));
    }

    void captionFollowsTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("caption");
        QTest::newRow("empty") << ""
                               << "Terralume - Untitled";
        QTest::newRow("blanks are kept") << "   "
                                         << "Terralume -    ";
        QTest::newRow("plain") << "Pangaea"
                               << "Terralume - Pangaea";
        QTest::newRow("Qt's modified marker is text") << "A [*] B"
                                                      << "Terralume - A [*] B";
        QTest::newRow("markup is text") << "<b>Bold</b>"
                                        << "Terralume - <b>Bold</b>";
    }
    void captionFollowsTitle()
    {
        QFETCH(QString, title);
        QFETCH(QString, caption);
        Program program;
        find<QLineEdit>(program.World1, "edTitle")->setText(title);
        QString shown;
        // What the window system is given, after Qt's own title processing.
        QVERIFY(withMapOpen(program.World1, program.WorldScr,
                            [&](TWorldScr &map) { shown = map.windowHandle()->title(); }));
        QCOMPARE(shown, caption);
    }

    // A screen reader hears the picture, and the view that holds the focus
    // around it, as an image named for the world shown, its settings and
    // figures, and the zoom; a map shown after another is named for itself.
    void pictureIsNamedForWhatItShows_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<int>("water");
        QTest::addColumn<int>("heat");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("zoom");
        QTest::addColumn<QString>("name");
        QTest::newRow("as the window opens")
            << "Small"
            << "42861244" << 0 << 0 << "" << 1
            << "Terralume - Untitled: Small world, seed 42861244, water Normal, 0, "
               "heat Normal, 0, land 25.31 %, 3 landmasses, largest 23.88 %, highest point 197, zoom x1";
        QTest::newRow("zoomed") << "Large"
                                << "42861244" << -15 << 0 << "Seven Seas" << 2
                                << "Terralume - Seven Seas: Large world, seed 42861244, water Dry, −15, heat Normal, "
                                   "0, land 49.76 %, 52 landmasses, largest 46.77 %, highest point 255, zoom x2";
        QTest::newRow("the ends of both scales")
            << "Medium"
            << "7" << 40 << -40 << "Ice" << 5
            << "Terralume - Ice: Medium world, seed 7, water Very Wet, 40, heat "
               "Very Hot, −40, land 10.86 %, 37 landmasses, largest 3.28 %, highest point 215, zoom x5";
        QTest::newRow("the seed as typed")
            << "Small"
            << "$FF" << 11 << 31 << "" << 3
            << "Terralume - Untitled: Small world, seed $FF, water Wet, 11, heat Very "
               "Cold, 31, land 7.07 %, 9 landmasses, largest 2.82 %, highest point 175, zoom x3";
        QTest::newRow("a title that looks like a placeholder")
            << "Small"
            << "1" << 0 << 0 << "%1 %6" << 1
            << "Terralume - %1 %6: Small world, seed 1, water Normal, 0, heat Normal, 0, land 31.22 %, 6 landmasses, "
               "largest 29.80 %, highest point 217, zoom x1";
    }
    void pictureIsNamedForWhatItShows()
    {
        QFETCH(QString, size);
        QFETCH(QString, seed);
        QFETCH(int, water);
        QFETCH(int, heat);
        QFETCH(QString, title);
        QFETCH(int, zoom);
        QFETCH(QString, name);
        Program program;
        enterSettings(program.World1, QStringLiteral("Small"), QStringLiteral("99"), 20, 20, QStringLiteral("Before"));
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) { trigger(map, 4); }));

        enterSettings(program.World1, size, seed, water, heat, title);
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            trigger(map, zoom);
            const QAccessibleInterface *picture = QAccessible::queryAccessibleInterface(find<QWidget>(map, "Image1"));
            QCOMPARE(picture->role(), QAccessible::Graphic);
            QCOMPARE(picture->text(QAccessible::Name), name);
            const QAccessibleInterface *view = QAccessible::queryAccessibleInterface(find<QWidget>(map, "ScrollBox1"));
            QCOMPARE(view->role(), QAccessible::Graphic);
            QCOMPARE(view->text(QAccessible::Name), name);
        }));
    }

    void heatPositionTintsTheMap_data()
    {
        QTest::addColumn<int>("heat");
        QTest::addColumn<int>("cold");
        QTest::addColumn<int>("hot");
        QTest::newRow("hot -25") << -25 << 0 << 25;
        QTest::newRow("cold 10") << 10 << 10 << 0;
        QTest::newRow("normal") << 0 << 0 << 0;
    }
    void heatPositionTintsTheMap()
    {
        QFETCH(int, heat);
        QFETCH(int, cold);
        QFETCH(int, hot);
        Program program;
        find<QSlider>(program.World1, "trkHeat")->setValue(heat);
        QImage shown;
        Tint tint;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            shown = map.viewImage().copy();
            tint = map.tint();
        }));
        QCOMPARE(tint.ColdLevel, cold);
        QCOMPARE(tint.HeatLevel, hot);
        QVERIFY(shown == coreMap(QStringLiteral("Small"), QStringLiteral("42861244"), 0, Tint{cold, hot}));
    }

    void zoomSizesAndCheckMarks_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("extent");
        QTest::newRow("Small") << "Small" << 256;
        QTest::newRow("Medium") << "Medium" << 576;
        QTest::newRow("Large") << "Large" << 1024;
    }
    void zoomSizesAndCheckMarks()
    {
        QFETCH(QString, size);
        QFETCH(int, extent);
        Program program;
        enterSettings(program.World1, size, QStringLiteral("42861244"), 0, 0);

        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            QCOMPARE(map.viewImage().size(), QSize(extent + 1, extent + 1));
            QCOMPARE(checkedZooms(map), QList<int>{1});
            const QImage base = map.baseImage();
            // Upwards, then back down, then the checked entry again.
            for (int zoom : {1, 2, 3, 4, 5, 3, 1, 1}) {
                trigger(map, zoom);
                QCOMPARE(map.zoomFactor(), zoom);
                QCOMPARE(checkedZooms(map), QList<int>{zoom});
                QCOMPARE(map.viewImage().size(), QSize(extent * zoom, extent * zoom));
                QVERIFY2(isZoomOf(map.viewImage(), base, zoom), qPrintable(QStringLiteral("x%1").arg(zoom)));
                QCOMPARE(map.findChild<QWidget *>(QStringLiteral("Image1"))->size(), map.viewImage().size());
            }
        }));
    }

    void fitToScreen_data()
    {
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("zoom"); // 0: as the show leaves it
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<bool>("maximised");
        const QSize sxga(1280, 1024);
        QTest::newRow("Large map taller than 1024") << "Large" << 0 << sxga << true;
        QTest::newRow("Small map fits") << "Small" << 0 << sxga << false;
        QTest::newRow("Small x3 fits") << "Small" << 3 << sxga << false;
        QTest::newRow("Small x4 with its border is as high") << "Small" << 4 << sxga << true;
        QTest::newRow("Small x5 is as wide as the screen") << "Small" << 5 << sxga << true;
        QTest::newRow("Medium x2 fits a larger screen") << "Medium" << 2 << QSize(1920, 1200) << false;
        QTest::newRow("Medium x2 too high for 1920x1080") << "Medium" << 2 << QSize(1920, 1080) << true;
    }
    void fitToScreen()
    {
        QFETCH(QString, size);
        QFETCH(int, zoom);
        QFETCH(QSize, screen);
        QFETCH(bool, maximised);
        Program program;
        program.WorldScr.setScreenSize(screen);
        enterSettings(program.World1, size, QStringLiteral("42861244"), 0, 0);
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            if (zoom > 0)
                trigger(map, zoom);
            QCOMPARE(map.isMaximized(), maximised);
            // Back at x1 the window is sized to the picture again, except a
            // Large map, whose x1 picture (1024 plus the border) is still too
            // high for these screens.
            trigger(map, 1);
            if (size == QStringLiteral("Large")) {
                QVERIFY(map.isMaximized());
                return;
            }
            QVERIFY(!map.isMaximized());
            const auto *box = find<QScrollArea>(map, "ScrollBox1");
            QCOMPARE(map.width(), box->width());
            QCOMPARE(map.height(), map.menuBar()->height() + box->height());
            QCOMPARE(box->width() - 2 * box->frameWidth(), map.viewImage().width());
        }));
    }

    void fitToScreenBoundary_data()
    {
        // The screen measured from the scroll box: equal does not fit.
        QTest::addColumn<int>("extraWidth");
        QTest::addColumn<int>("extraHeight");
        QTest::addColumn<bool>("maximised");
        QTest::newRow("exactly as wide") << 0 << 1 << true;
        QTest::newRow("exactly as high") << 1 << 0 << true;
        QTest::newRow("one pixel to spare each way") << 1 << 1 << false;
        QTest::newRow("narrower screen") << -1 << 100 << true;
    }
    void fitToScreenBoundary()
    {
        QFETCH(int, extraWidth);
        QFETCH(int, extraHeight);
        QFETCH(bool, maximised);
        Program program;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            trigger(map, 2);
            QVERIFY(!map.isMaximized());
            const QSize box = find<QScrollArea>(map, "ScrollBox1")->size();
            map.setScreenSize(box + QSize(extraWidth, extraHeight));
            trigger(map, 2);
            QCOMPARE(map.isMaximized(), maximised);
        }));
    }

    void secondGenerateAfterZoom5ShowsX1()
    {
        Program program;
        QImage firstShow;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            firstShow = map.viewImage().copy();
            trigger(map, 5);
            QCOMPARE(map.viewImage().width(), 1280);
        }));
        // Closed at x5, the window keeps its picture until the next show.
        QCOMPARE(program.WorldScr.viewImage().width(), 1280);

        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            QCOMPARE(map.zoomFactor(), 1);
            QCOMPARE(checkedZooms(map), QList<int>{1});
            QVERIFY(map.viewImage() == firstShow);
        }));
    }

    void newMapOpensAtItsTopLeftCorner()
    {
        Program program;
        program.WorldScr.setScreenSize(QSize(800, 600));
        enterSettings(program.World1, QStringLiteral("Large"), QStringLiteral("42861244"), 0, 0);
        const auto scrollBars = [&program] {
            const auto *box = find<QScrollArea>(program.WorldScr, "ScrollBox1");
            return std::pair{box->horizontalScrollBar(), box->verticalScrollBar()};
        };
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &) {
            for (QScrollBar *bar : {scrollBars().first, scrollBars().second}) {
                QVERIFY(bar->maximum() > 0);
                bar->setValue(bar->maximum());
            }
        }));
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &) {
            QCOMPARE(scrollBars().first->value(), 0);
            QCOMPARE(scrollBars().second->value(), 0);
        }));
    }

    void failedZoomKeepsPreviousView_data()
    {
        QTest::addColumn<bool>("throws");
        QTest::addColumn<bool>("byWheel");
        QTest::newRow("allocation throws") << true << false;
        QTest::newRow("allocation gives nothing") << false << false;
        QTest::newRow("Ctrl+wheel, allocation throws") << true << true;
    }
    void failedZoomKeepsPreviousView()
    {
        QFETCH(bool, throws);
        QFETCH(bool, byWheel);
        Program program;
        // Enough for Small up to x4 (1024 square), not for x5.
        const std::size_t limit = 1024 * 1024;
        program.WorldScr.setPixelAllocator([=](std::size_t count) -> std::shared_ptr<std::uint16_t[]> {
            if (count <= limit)
                return std::make_unique<std::uint16_t[]>(count);
            if (throws)
                throw std::bad_alloc();
            return nullptr;
        });

        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            const int before = byWheel ? 4 : 2;
            trigger(map, before);
            ErrorBoxWatcher watcher;
            const int errorsBefore = errorsThroughDispatch();
            // Through the event loop, as a menu click or a wheel turn arrives.
            if (byWheel)
                QTimer::singleShot(0, &map, [&] { sendWheel(map, QPointF(20, 20), 120, Qt::ControlModifier); });
            else
                QMetaObject::invokeMethod(zoomEntries(map)[4], &QAction::trigger, Qt::QueuedConnection);
            QTRY_COMPARE(watcher.boxes().size(), 1);
            QCOMPARE(watcher.boxes().front().text, QStringLiteral("Out of memory."));
            QCOMPARE(errorsThroughDispatch(), errorsBefore);

            QCOMPARE(map.zoomFactor(), before);
            QCOMPARE(checkedZooms(map), QList<int>{before});
            QVERIFY(isZoomOf(map.viewImage(), map.baseImage(), before));
            QCOMPARE(QApplication::overrideCursor(), nullptr);

            // The window carries on: a zoom that fits still works.
            trigger(map, 4);
            QVERIFY(isZoomOf(map.viewImage(), map.baseImage(), 4));
        }));
    }

    void zoomKeepsTheCentreOfTheView_data()
    {
        QTest::addColumn<int>("from"); // 0: as the show leaves it
        QTest::addColumn<int>("to");
        QTest::addColumn<double>("scrolled");
        QTest::newRow("shown to x3") << 0 << 3 << 0.5;
        QTest::newRow("x1 to x2, left of the middle") << 1 << 2 << 0.3;
        QTest::newRow("x2 to x5, right of the middle") << 2 << 5 << 0.7;
        QTest::newRow("x5 to x3") << 5 << 3 << 0.5;
        QTest::newRow("x3 to x1") << 3 << 1 << 0.5;
    }
    void zoomKeepsTheCentreOfTheView()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(double, scrolled);
        ScrollingProgram program;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            if (from > 0)
                trigger(map, from);
            scrollTo(map, scrolled);
            const QWidget *view = viewOf(map);
            const QPointF before = cellAt(map, centreOf(view));
            trigger(map, to);
            QCOMPARE(checkedZooms(map), QList<int>{to});
            const QPointF after = cellAt(map, centreOf(view));
            QVERIFY2(sameCell(before, after), qPrintable(describe(before, after)));
        }));
    }

    void ctrlWheelZoomsAroundThePointer_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<QList<int>>("turns");
        QTest::addColumn<bool>("control");
        QTest::addColumn<int>("zoom");
        QTest::newRow("a notch up zooms in") << 1 << QList<int>{120} << true << 2;
        QTest::newRow("a notch down zooms out") << 3 << QList<int>{-120} << true << 2;
        QTest::newRow("a long turn is still one step") << 2 << QList<int>{360} << true << 3;
        QTest::newRow("half a notch waits") << 2 << QList<int>{60} << true << 2;
        QTest::newRow("two halves make a step") << 2 << QList<int>{60, 60} << true << 3;
        QTest::newRow("halves the other way start afresh") << 2 << QList<int>{60, -60, 60} << true << 2;
        QTest::newRow("no further in than x5") << 5 << QList<int>{120} << true << 5;
        QTest::newRow("no further out than x1") << 1 << QList<int>{-120} << true << 1;
        QTest::newRow("without Ctrl the wheel scrolls") << 2 << QList<int>{-120} << false << 2;
    }
    void ctrlWheelZoomsAroundThePointer()
    {
        QFETCH(int, from);
        QFETCH(QList<int>, turns);
        QFETCH(bool, control);
        QFETCH(int, zoom);
        ScrollingProgram program;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            trigger(map, from);
            scrollTo(map, 0.5);
            // Off the centre, which an ordinary zoom keeps.
            const QPointF pointer(viewOf(map)->width() / 4.0, viewOf(map)->height() / 3.0);
            const QPointF before = cellAt(map, pointer);
            const int scrollBefore = find<QScrollArea>(map, "ScrollBox1")->verticalScrollBar()->value();
            for (const int turn : turns)
                sendWheel(map, pointer, turn, control ? Qt::ControlModifier : Qt::NoModifier);
            QCOMPARE(map.zoomFactor(), zoom);
            QCOMPARE(checkedZooms(map), QList<int>{zoom});
            QVERIFY(isZoomOf(map.viewImage(), map.baseImage(), zoom));
            const QPointF after = cellAt(map, pointer);
            if (control)
                QVERIFY2(sameCell(before, after), qPrintable(describe(before, after)));
            else
                QVERIFY(find<QScrollArea>(map, "ScrollBox1")->verticalScrollBar()->value() > scrollBefore);
        }));
    }

    void dragWithTheLeftButtonPans_data()
    {
        QTest::addColumn<QPoint>("drag");
        QTest::newRow("towards the top left") << QPoint(-120, -70);
        QTest::newRow("towards the bottom right") << QPoint(90, 150);
        QTest::newRow("straight down") << QPoint(0, 40);
    }
    void dragWithTheLeftButtonPans()
    {
        QFETCH(QPoint, drag);
        ScrollingProgram program;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            trigger(map, 2);
            scrollTo(map, 0.5);
            auto *image = find<QWidget>(map, "Image1");
            const QPoint start = centreOf(viewOf(map)).toPoint();
            const QPointF grabbed = cellAt(map, start);
            QTest::mousePress(image, Qt::LeftButton, {}, image->mapFrom(viewOf(map), start));
            QTest::mouseMove(image, image->mapFrom(viewOf(map), start + drag));
            QTest::mouseRelease(image, Qt::LeftButton, {}, image->mapFrom(viewOf(map), start + drag));
            // The cell grabbed has followed the pointer.
            const QPointF under = cellAt(map, start + drag);
            QVERIFY2(sameCell(grabbed, under), qPrintable(describe(grabbed, under)));
            QCOMPARE(map.zoomFactor(), 2);
        }));
    }

    // The user has moved the window; a zoom that grows it past the screen's
    // free area brings it back inside, by as little as it takes.
    void grownWindowComesBackInside_data()
    {
        // Where the window's frame starts, from the free area's top-left
        // corner (negative: from its bottom-right corner).
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<bool>("touchesRight");
        QTest::addColumn<bool>("touchesBottom");
        QTest::newRow("past the right edge") << QPoint(-300, 20) << true << false;
        QTest::newRow("past the bottom edge") << QPoint(30, -320) << false << true;
        QTest::newRow("past both") << QPoint(-280, -290) << true << true;
        QTest::newRow("still inside stays") << QPoint(40, 25) << false << false;
    }
    void grownWindowComesBackInside()
    {
        QFETCH(QPoint, from);
        QFETCH(bool, touchesRight);
        QFETCH(bool, touchesBottom);
        Program program;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            QVERIFY(QTest::qWaitForWindowExposed(&map));
            const QRect area = map.screen()->availableGeometry();
            const QPoint start(from.x() < 0 ? area.right() + 1 + from.x() : area.left() + from.x(),
                               from.y() < 0 ? area.bottom() + 1 + from.y() : area.top() + from.y());
            map.move(start);
            QCOMPARE(map.frameGeometry().topLeft(), start);
            trigger(map, 2);
            QVERIFY(!map.isMaximized());
            const QRect frame = map.frameGeometry();
            QVERIFY2(frame.width() < area.width() && frame.height() < area.height(), "the test needs a larger screen");
            QVERIFY2(area.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                          .arg(frame.x())
                                                          .arg(frame.y())
                                                          .arg(frame.width())
                                                          .arg(frame.height())));
            if (touchesRight)
                QCOMPARE(frame.right(), area.right());
            else
                QCOMPARE(frame.left(), start.x());
            if (touchesBottom)
                QCOMPARE(frame.bottom(), area.bottom());
            else
                QCOMPARE(frame.top(), start.y());
        }));
    }

    void keptCopyOfTheViewSurvivesZooming()
    {
        Program program;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            trigger(map, 3);
            const QImage kept = map.viewImage();
            const QImage expected = kept.copy();
            trigger(map, 2);
            trigger(map, 3);
            QVERIFY(kept == expected);
            QVERIFY(isZoomOf(map.viewImage(), map.baseImage(), 3));
        }));
    }
};

int main(int argc, char *argv[])
{
    DispatchWatch application(argc, argv);
    MapWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MapWindowTest.moc"
