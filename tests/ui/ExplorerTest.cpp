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
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>

#include <cstdlib>
#include <new>

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {
// Allocations on this thread until the one that fails; 0: none fails.
constinit thread_local long allocationsToFailure = 0;
} // namespace

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

    // However a world is chosen, its seed is typed into the settings window
    // (undo brings the old one back); only a double-click also generates.
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
        QString picked;
        bool generated = false;
        const auto run = [&] {
            withExplorerOpen(program.World1, [&](TWorldExplorer &explorer) {
                QListWidget *list = worlds(explorer);
                // Keys go where the focus is: while the page fills, Stop
                // holds it and Enter would press Stop, as it should.
                QTRY_VERIFY_WITH_TIMEOUT(!searching(explorer), 60000);
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
        if (chosen) {
            seedField->undo();
            QCOMPARE(seedField->text(), before);
        }
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
            QCOMPARE(explorer.findChild<SpokenNotice *>()->said(), told->text());
            QCOMPARE(use->isEnabled(), useAvailable);
            QCOMPARE(worlds(explorer)->count(), useAvailable ? TWorldExplorer::kPageWorlds : 0);
        });
    }
};

QTEST_MAIN(ExplorerTest)
#include "ExplorerTest.moc"
