// The explorer as the settings window opens it: its pages are the searches
// the core makes, and a world chosen in it comes back as the seed typed in.
#include "Generator.h"
#include "PreviewSearch.h"
#include "SpokenNotice.h"
#include "TWorldExplorer.h"
#include "UiTestSupport.h"
#include "WorkerThreads.h"
#include "WorldPreview.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>

#include <atomic>
#include <cstdlib>
#include <new>

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {
// Allocations on this thread until the one that fails; 0: none fails.
constinit thread_local long allocationsToFailure = 0;
} // namespace

// GCC 12 for Windows at -O3 takes the free() below for a mismatch with the
// operator new above, which is malloc() too.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size)
{
    if (allocationsToFailure > 0 && --allocationsToFailure == 0)
        throw std::bad_alloc();
    if (void *memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }

namespace {

// Eight Small worlds from the last seeds on to the first ones.
PreviewSearch::Page eightWorlds()
{
    PreviewSearch::Page page;
    page.size = "Small";
    page.start = 99999995;
    page.wanted = 8;
    page.thumbnailSide = 16;
    return page;
}

// The seeds of eightWorlds(), once the search has ended.
QList<std::int64_t> seedsFound(PreviewSearch &search)
{
    QList<std::int64_t> seeds;
    bool ended = false;
    QObject context;
    QObject::connect(&search, &PreviewSearch::found, &context,
                     [&](const WorldPreview &preview) { seeds.append(preview.seed); });
    QObject::connect(&search, &PreviewSearch::finished, &context, [&] { ended = true; });
    search.start(eightWorlds());
    [&] {
        QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
        QVERIFY(!search.running());
    }();
    return seeds;
}

// Opens the explorer from the World menu and runs `whileOpen` inside it;
// returns once the explorer is closed.
void withExplorerOpen(TWorld1 &settings, const std::function<void(TWorldExplorer &)> &whileOpen)
{
    QTimer::singleShot(0, &settings, [&] {
        auto *explorer = settings.findChild<TWorldExplorer *>();
        QVERIFY(explorer && explorer->isVisible() && QApplication::activeModalWidget() == explorer);
        whileOpen(*explorer);
        if (explorer->isVisible())
            explorer->reject();
    });
    find<QAction>(settings, "ExploreWorlds1")->trigger();
}

QListWidget *worlds(const TWorldExplorer &explorer) { return find<QListWidget>(explorer, "lstWorlds"); }

std::int64_t seedOf(const QListWidgetItem *item) { return item->data(Qt::UserRole).toLongLong(); }

bool searching(const TWorldExplorer &explorer) { return find<QPushButton>(explorer, "butStop")->isEnabled(); }

QList<std::int64_t> seedsShown(const TWorldExplorer &explorer)
{
    QList<std::int64_t> seeds;
    for (int i = 0; i < worlds(explorer)->count(); ++i)
        seeds.append(seedOf(worlds(explorer)->item(i)));
    return seeds;
}

// What a plain scan finds for a page from `start`, past the last seed on
// from the first, and how many seeds it took.
QList<std::int64_t> plainPage(const std::string &size, int water, const FigureFilter &filter, std::int64_t start,
                              std::int64_t *decided = nullptr)
{
    QList<std::int64_t> found;
    std::atomic<std::int64_t> seeds{0};
    for (const std::int64_t from : {start, std::int64_t{1}}) {
        SearchRequest request;
        request.size = size;
        request.water = water;
        request.filter = filter;
        request.start = from;
        request.limit = from == 1 ? start - 1 : kHighestSearchSeed - start + 1;
        request.wanted = TWorldExplorer::kPageWorlds - found.size();
        request.decided = &seeds;
        if (request.wanted > 0 && request.limit > 0)
            searchWorlds(request, 1, [&](const FoundWorld &world) {
                found.append(world.seed);
                return true;
            });
    }
    if (decided)
        *decided = seeds;
    return found;
}

// The page a filter change or a setting brings, once its search has ended:
// the one that follows the change, not the page that stood before it.
void waitForTheNextPage(TWorldExplorer &explorer, const std::function<void()> &change)
{
    bool cleared = false;
    QObject context;
    QObject::connect(worlds(explorer)->model(), &QAbstractItemModel::modelReset, &context, [&] { cleared = true; });
    change();
    QTRY_VERIFY_WITH_TIMEOUT(cleared && !searching(explorer), 60000);
}

} // namespace

class ExplorerTest : public QObject {
    Q_OBJECT

private slots:
    // A page is the first worlds upward of its first seed that pass the
    // filters, each shown as the core makes it at the settings window's
    // size, water and heat.
    void pagesAreWhatTheSearchFinds_data()
    {
        QTest::addColumn<int>("sizeIndex");
        QTest::addColumn<int>("water");
        QTest::addColumn<int>("heat");
        QTest::addColumn<int>("leastLand");      // -1: filter off
        QTest::addColumn<int>("mostLandmasses"); // -1: filter off
        QTest::newRow("no filter") << 0 << 0 << 0 << -1 << -1;
        QTest::newRow("land") << 0 << 10 << -25 << 40 << -1;
        QTest::newRow("landmasses") << 0 << -20 << 40 << -1 << 6;
        QTest::newRow("both") << 0 << 0 << 0 << 30 << 3;
    }

    void pagesAreWhatTheSearchFinds()
    {
        QFETCH(int, sizeIndex);
        QFETCH(int, water);
        QFETCH(int, heat);
        QFETCH(int, leastLand);
        QFETCH(int, mostLandmasses);
        Program program;
        find<QComboBox>(program.World1, "lstSize")->setCurrentIndex(sizeIndex);
        find<QSlider>(program.World1, "trkWater")->setValue(water);
        find<QSlider>(program.World1, "trkHeat")->setValue(heat);
        const std::string size = find<QComboBox>(program.World1, "lstSize")->currentText().toStdString();

        withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
            find<QCheckBox>(explorer, "chkLand")->setChecked(leastLand >= 0);
            find<QSpinBox>(explorer, "spnLand")->setValue(std::max(leastLand, 0));
            find<QCheckBox>(explorer, "chkLandmasses")->setChecked(mostLandmasses >= 0);
            find<QSpinBox>(explorer, "spnLandmasses")->setValue(std::max(mostLandmasses, 0));
            QTest::mouseClick(find<QPushButton>(explorer, "butMore"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
            QListWidget *list = worlds(explorer);
            QCOMPARE(list->count(), TWorldExplorer::kPageWorlds);

            SearchRequest request;
            request.size = size;
            request.water = water;
            request.filter = explorer.filter();
            request.start = seedOf(list->item(0));
            request.wanted = TWorldExplorer::kPageWorlds;
            QList<std::int64_t> expected;
            searchWorlds(request, 1, [&](const FoundWorld &found) {
                expected.append(found.seed);
                return true;
            });
            QList<std::int64_t> shown;
            for (int i = 0; i < list->count(); ++i)
                shown.append(seedOf(list->item(i)));
            // A page that ran past the last seed goes on from the first one.
            if (shown.constLast() >= shown.constFirst())
                QCOMPARE(shown, expected);

            // The first world's thumbnail, at this window's pixel ratio.
            SeededRandom random;
            random.LoadSeed(std::to_string(shown.constFirst()));
            const World world = GenerateHeights(size, water, random);
            const QSize side = list->iconSize() * explorer.devicePixelRatio();
            const QImage thumbnail = list->item(0)->icon().pixmap(side).toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(thumbnail, worldThumbnail(world, tintFromHeatPosition(heat), side.width()));
            QVERIFY(list->item(0)
                        ->data(Qt::AccessibleTextRole)
                        .toString()
                        .startsWith(QStringLiteral("Seed %1: land ").arg(shown.constFirst())));
        });
    }

    // However a world is chosen, its seed, size, water and heat are taken
    // into the settings window (undoing the seed brings them all back); only
    // a double-click also generates.
    void choosingAWorld_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<bool>("generates");
        QTest::newRow("Use This World") << "use" << true << false;
        QTest::newRow("Enter") << "enter" << true << false;
        QTest::newRow("double-click") << "double-click" << true << true;
        QTest::newRow("Cancel") << "cancel" << false << false;
        QTest::newRow("Escape") << "escape" << false << false;
    }

    void choosingAWorld()
    {
        QFETCH(QString, how);
        QFETCH(bool, chosen);
        QFETCH(bool, generates);
        Program program;
        auto *seedField = find<QLineEdit>(program.World1, "edRandSeed");
        const QString before = seedField->text();
        const auto settings = [&] {
            return QStringList{find<QComboBox>(program.World1, "lstSize")->currentText(),
                               QString::number(find<QSlider>(program.World1, "trkWater")->value()),
                               QString::number(find<QSlider>(program.World1, "trkHeat")->value())};
        };
        const QStringList settingsBefore = settings();
        const QStringList settingsPicked{QStringLiteral("Medium"), QStringLiteral("15"), QStringLiteral("-20")};
        QString picked;
        bool generated = false;
        const auto run = [&] {
            withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
                QListWidget *list = worlds(explorer);
                // Keys go where the focus is: while the page fills, Stop
                // holds it and Enter would press Stop, as it should.
                QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
                waitForTheNextPage(explorer, [&] {
                    find<QComboBox>(explorer, "lstSize")->setCurrentText(settingsPicked[0]);
                    find<QSlider>(explorer, "trkWater")->setValue(settingsPicked[1].toInt());
                    find<QSlider>(explorer, "trkHeat")->setValue(settingsPicked[2].toInt());
                    list->setFocus();
                });
                QCOMPARE(QApplication::focusWidget(), list);
                QTest::keyClick(list, Qt::Key_Right); // the second world
                QListWidgetItem *item = list->currentItem();
                picked = QString::number(seedOf(item));
                QCOMPARE(item, list->item(1));
                if (how == QLatin1String("use")) {
                    QTest::mouseClick(find<QPushButton>(explorer, "butUse"), Qt::LeftButton);
                } else if (how == QLatin1String("enter")) {
                    QTest::keyClick(list, Qt::Key_Return);
                } else if (how == QLatin1String("double-click")) {
                    // Qt's test double-click is the second click of a pair.
                    const QPoint centre = list->visualItemRect(item).center();
                    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
                    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
                } else if (how == QLatin1String("cancel")) {
                    QTest::mouseClick(find<QPushButton>(explorer, "butCancel"), Qt::LeftButton);
                } else {
                    QTest::keyClick(list, Qt::Key_Escape);
                }
                QVERIFY(!explorer.isVisible());
            });
        };
        // A generated map shows modally once the explorer has closed: it is
        // noted and closed as soon as it shows.
        QTimer mapWatch;
        mapWatch.setInterval(5);
        QObject::connect(&mapWatch, &QTimer::timeout, [&] {
            if (!program.WorldScr.isVisible())
                return;
            generated = true;
            find<QAction>(program.WorldScr, "Exit1")->trigger();
        });
        mapWatch.start();
        run();
        QCOMPARE(generated, generates);
        QCOMPARE(seedField->text(), chosen ? picked : before);
        QCOMPARE(settings(), chosen ? settingsPicked : settingsBefore);
        if (chosen) {
            seedField->undo();
            QCOMPARE(seedField->text(), before);
            QCOMPARE(settings(), settingsBefore);
        }
    }

    // A filter acts as soon as it is changed, without More Worlds: the page
    // is looked for again from its first seed, each world on it passes the
    // filters, with none the seeds follow one another; its count is of the
    // seeds that decided the page, not of those looked at ahead.
    void filtersActAtOnce_data()
    {
        QTest::addColumn<QList<QPoint>>("steps"); // least land, most landmasses; -1: off
        QTest::newRow("land") << QList<QPoint>{{30, -1}};
        QTest::newRow("landmasses") << QList<QPoint>{{-1, 4}};
        QTest::newRow("a number changed") << QList<QPoint>{{25, -1}, {35, -1}};
        QTest::newRow("both, then neither") << QList<QPoint>{{25, 6}, {-1, -1}};
    }

    void filtersActAtOnce()
    {
        QFETCH(QList<QPoint>, steps);
        Program program;
        withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
            QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
            const std::int64_t start = seedsShown(explorer).value(0);
            for (const QPoint &step : steps) {
                waitForTheNextPage(explorer, [&] {
                    // A number is set once its box is ticked, as a person can.
                    find<QCheckBox>(explorer, "chkLand")->setChecked(step.x() >= 0);
                    find<QCheckBox>(explorer, "chkLandmasses")->setChecked(step.y() >= 0);
                    if (step.x() >= 0)
                        find<QSpinBox>(explorer, "spnLand")->setValue(step.x());
                    if (step.y() >= 0)
                        find<QSpinBox>(explorer, "spnLandmasses")->setValue(step.y());
                });
                std::int64_t decided = 0;
                QCOMPARE(seedsShown(explorer), plainPage("Small", 0, explorer.filter(), start, &decided));
                QCOMPARE(find<QLabel>(explorer, "lblProgress")->text(),
                         QStringLiteral("Looked at %1 worlds, found 12 of 12").arg(QLocale().toString(decided)));
            }
        });
    }

    // Beside the filters: the range of each figure among the worlds seen at
    // this size and water, the page's among them; once a filter has turned a
    // few hundred away, how rare the worlds it takes are.
    void spreadAndRarityAreShown_data()
    {
        QTest::addColumn<int>("leastLand"); // -1: no filter
        QTest::addColumn<QString>("rarity"); // a pattern; empty: none shown
        QTest::newRow("no filter") << -1 << QString();
        // Sea lines every world's edges: no world is all land.
        QTest::newRow("none pass") << 100 << "^None of the [0-9,]+ worlds seen here passes the filters$";
        QTest::newRow("some pass") << 35 << "^About 1 in [1-9][0-9,]* of the worlds seen here passes the filters$";
    }

    void spreadAndRarityAreShown()
    {
        QFETCH(int, leastLand);
        QFETCH(QString, rarity);
        Program program;
        withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
            QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
            auto *shown = find<QLabel>(explorer, "lblRarity");
            if (leastLand >= 0) {
                find<QCheckBox>(explorer, "chkLand")->setChecked(true);
                find<QSpinBox>(explorer, "spnLand")->setValue(leastLand);
                // Pages on, until enough worlds were turned away.
                auto *more = find<QPushButton>(explorer, "butMore");
                QTRY_VERIFY_WITH_TIMEOUT(shown->isVisible() || (!searching(explorer) && (more->click(), false)), 120000);
                if (searching(explorer))
                    QTest::mouseClick(find<QPushButton>(explorer, "butStop"), Qt::LeftButton);
                QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
            }
            QCOMPARE(shown->isVisible(), !rarity.isEmpty());
            if (!rarity.isEmpty())
                QVERIFY2(QRegularExpression(rarity).match(shown->text()).hasMatch(), qPrintable(shown->text()));
            const QString spread = find<QLabel>(explorer, "lblSpread")->text();
            const auto ranges = QRegularExpression(QStringLiteral(
                                                       "^([0-9,]+) worlds seen at this size and water: land ([0-9]+)"
                                                       "\u2013([0-9]+) %, landmasses ([0-9]+)\u2013([0-9]+)$"))
                                    .match(spread);
            QVERIFY2(ranges.hasMatch(), qPrintable(spread));
            for (int i = 0; i < worlds(explorer)->count(); ++i) {
                const std::int64_t seed = seedOf(worlds(explorer)->item(i));
                SeededRandom random;
                random.LoadSeed(std::to_string(seed));
                const WorldFigures f = worldFigures(GenerateHeights("Small", 0, random));
                const std::int64_t land = percentHundredths(f.landCells, f.cells) / 100;
                QVERIFY2(land >= ranges.captured(2).toInt() && land <= ranges.captured(3).toInt(), qPrintable(spread));
                QVERIFY2(f.landmasses >= ranges.captured(4).toInt() && f.landmasses <= ranges.captured(5).toInt(),
                         qPrintable(spread));
            }
        });
    }

    // The explorer's own size, water and heat: size and water look for the
    // page again from its first seed; heat only colours the worlds shown
    // anew, none of them made again; every thumbnail in the map's colours.
    void settingsInTheExplorer_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("value");
        QTest::newRow("heat") << "trkHeat" << 30;
        QTest::newRow("water") << "trkWater" << -20;
        QTest::newRow("size") << "lstSize" << 1;
    }

    void settingsInTheExplorer()
    {
        QFETCH(QString, control);
        QFETCH(int, value);
        Program program;
        withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
            QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
            const QList<std::int64_t> before = seedsShown(explorer);
            auto *size = find<QComboBox>(explorer, "lstSize");
            auto *water = find<QSlider>(explorer, "trkWater");
            auto *heat = find<QSlider>(explorer, "trkHeat");
            if (control == QLatin1String("trkHeat")) {
                QSignalSpy cleared(worlds(explorer)->model(), &QAbstractItemModel::modelReset);
                QSignalSpy added(worlds(explorer)->model(), &QAbstractItemModel::rowsInserted);
                heat->setValue(value);
                QVERIFY(!searching(explorer));
                QCOMPARE(cleared.count() + added.count(), 0);
                QCOMPARE(seedsShown(explorer), before);
            } else {
                waitForTheNextPage(explorer, [&] {
                    if (control == QLatin1String("lstSize"))
                        size->setCurrentIndex(value);
                    else
                        water->setValue(value);
                });
                QCOMPARE(seedsShown(explorer),
                         plainPage(size->currentText().toStdString(), water->value(), {}, before.value(0)));
            }
            QListWidget *list = worlds(explorer);
            const QSize side = list->iconSize() * explorer.devicePixelRatio();
            for (int i = 0; i < list->count(); ++i) {
                SeededRandom random;
                random.LoadSeed(std::to_string(seedOf(list->item(i))));
                const World world = GenerateHeights(size->currentText().toStdString(), water->value(), random);
                const QImage thumbnail = list->item(i)->icon().pixmap(side).toImage().convertToFormat(QImage::Format_RGB32);
                QCOMPARE(thumbnail, worldThumbnail(world, tintFromHeatPosition(heat->value()), side.width()));
            }
        });
    }

    // The thumbnails grow and shrink with the window, within their bounds;
    // the chosen one keeps its colours.
    void thumbnailsFollowTheWindow_data()
    {
        QTest::addColumn<QSize>("window");
        QTest::addColumn<int>("side"); // 0: between the bounds
        QTest::newRow("small") << QSize(300, 200) << TWorldExplorer::kSmallestThumbnail;
        QTest::newRow("medium") << QSize(1100, 900) << 0;
        QTest::newRow("large") << QSize(2400, 1800) << TWorldExplorer::kLargestThumbnail;
    }

    void thumbnailsFollowTheWindow()
    {
        QFETCH(QSize, window);
        QFETCH(int, side);
        Program program;
        withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
            QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
            QListWidget *list = worlds(explorer);
            explorer.resize(window);
            const auto pixels = [&](QIcon::Mode mode) {
                return list->item(0)->icon().pixmap(list->iconSize() * explorer.devicePixelRatio(), mode).toImage();
            };
            QTRY_COMPARE_WITH_TIMEOUT(pixels(QIcon::Normal).size(), list->iconSize() * explorer.devicePixelRatio(), 5000);
            if (side > 0)
                QCOMPARE(list->iconSize(), QSize(side, side));
            else
                QVERIFY(list->iconSize().width() > TWorldExplorer::kSmallestThumbnail &&
                        list->iconSize().width() < TWorldExplorer::kLargestThumbnail);
            QVERIFY(list->item(0)->isSelected());
            QCOMPARE(pixels(QIcon::Selected), pixels(QIcon::Normal));
        });
    }

    // However few threads the system grants, even none, a search runs to
    // its end and finds the same worlds.
    void searchWithoutThreadsFindsTheSame_data()
    {
        QTest::addColumn<unsigned>("granted");
        QTest::newRow("no thread") << 0u;
        QTest::newRow("only the search's own") << 1u;
    }

    void searchWithoutThreadsFindsTheSame()
    {
        QFETCH(unsigned, granted);
        PreviewSearch search;
        const QList<std::int64_t> expected = seedsFound(search);
        QCOMPARE(expected, (QList<std::int64_t>{99999995, 99999996, 99999997, 99999998, 99999999, 1, 2, 3}));
        const RefusedThreadStarts refused(granted);
        QCOMPARE(seedsFound(search), expected);
    }

    // Whichever allocation of a start fails, no search is left marked as
    // running, and the next one finds what it should.
    void startWithoutMemoryLeavesNoSearch()
    {
        PreviewSearch search;
        const QList<std::int64_t> expected = seedsFound(search);
        bool thrown = false;
        for (long nth = 1; allocationsToFailure == 0; ++nth) {
            allocationsToFailure = nth;
            try {
                search.start(eightWorlds());
            } catch (const std::bad_alloc &) {
                thrown = true;
                QVERIFY2(!search.running(), qPrintable(QStringLiteral("allocation %1").arg(nth)));
            }
            // Left above 0 when the start made fewer allocations than that.
            if (allocationsToFailure == 0)
                QCOMPARE(seedsFound(search), expected);
        }
        allocationsToFailure = 0;
        QVERIFY(thrown);
    }

    // A search's outcome is told by a notification that shows only once the
    // search has ended, a page filled or stopped; Use This World is
    // unavailable while no world is there to choose.
    void outcomeIsToldWhenASearchEnds_data()
    {
        QTest::addColumn<int>("leastLand");
        QTest::addColumn<QString>("outcome"); // a pattern
        QTest::addColumn<bool>("useAvailable");
        QTest::newRow("a page filled") << 0 << "^Found 12 worlds$" << true;
        // Sea lines every world's edges: no world is all land.
        QTest::newRow("stopped") << 100 << "^Stopped after [1-9][0-9,]* worlds, found 0$" << false;
    }

    void outcomeIsToldWhenASearchEnds()
    {
        QFETCH(int, leastLand);
        QFETCH(QString, outcome);
        QFETCH(bool, useAvailable);
        Program program;
        withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
            find<QCheckBox>(explorer, "chkLand")->setChecked(true);
            find<QSpinBox>(explorer, "spnLand")->setValue(leastLand);
            QTest::mouseClick(find<QPushButton>(explorer, "butMore"), Qt::LeftButton);
            auto *told = find<QLabel>(explorer, "lblOutcome");
            auto *use = find<QPushButton>(explorer, "butUse");
            QVERIFY(!told->isVisible());
            QVERIFY(!use->isEnabled());
            if (!useAvailable) {
                auto *progress = find<QLabel>(explorer, "lblProgress");
                QTRY_VERIFY_WITH_TIMEOUT(!progress->text().startsWith(QLatin1String("Looked at 0 ")), 60000);
                QTest::mouseClick(find<QPushButton>(explorer, "butStop"), Qt::LeftButton);
            }
            QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
            QVERIFY(told->isVisible());
            QVERIFY2(QRegularExpression(outcome).match(told->text()).hasMatch(), qPrintable(told->text()));
            QCOMPARE(find<SpokenNotice>(explorer, "outcomeNotice")->said(), told->text());
            QCOMPARE(use->isEnabled(), useAvailable);
            QCOMPARE(worlds(explorer)->count(), useAvailable ? TWorldExplorer::kPageWorlds : 0);
        });
    }
};

QTEST_MAIN(ExplorerTest)
#include "ExplorerTest.moc"
