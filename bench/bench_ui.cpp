// Run with QT_QPA_PLATFORM=offscreen (the default when unset). Compare
// BM_ZoomToX5 with BM_MemsetViewBytes: both write 5120 x 5120 x 2 bytes.
// The Print figures use the default printer: point CUPS_SERVER at the print
// tests' private scheduler (scripts/cups-test-env.sh) for a PDF queue; with
// no printer the job ends after the conversion, with its message.

#include "Generator.h"
#include "MapPicture.h"
#include "PrintJob.h"
#include "ProgramWindows.h"
#include "TWorldExplorer.h"
#include "TerralumeApplication.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

using namespace terralume;
using namespace terralume::ui;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kLargeIndex = 2;
constexpr std::size_t kX5ViewBytes = std::size_t{5120} * 5120 * 2;

// The program's windows as start-up wires them, set to the largest world.
struct Program : ProgramWindows {
    Program() { World1.findChild<QComboBox *>(QStringLiteral("lstSize"))->setCurrentIndex(kLargeIndex); }

    QPushButton *generate() const { return World1.findChild<QPushButton *>(QStringLiteral("butGenerate")); }
    QAction *entry(const char *name) const { return WorldScr.findChild<QAction *>(QString::fromLatin1(name)); }

    // Presses Generate and runs `whileOpen` inside the map window's modal
    // run, then closes it.
    void withMapOpen(const std::function<void()> &whileOpen)
    {
        QTimer::singleShot(0, &WorldScr, [&] {
            whileOpen();
            WorldScr.close();
        });
        generate()->click();
    }
};

// Notes the time of the first paint of the map picture and closes the map.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(TWorldScr &map) : map_(map) {}
    std::optional<Clock::time_point> at;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !at) {
            at = Clock::now();
            QMetaObject::invokeMethod(&map_, &QWidget::close, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TWorldScr &map_;
};

// The program of a whole run, built once as start-up builds it: every
// repetition below presses Generate again in it. Windows built anew for
// each repetition would make the figure hang on whether the allocator had
// trimmed the pages of the previous ones.
Program *runningProgram = nullptr;

void BM_GenerateToFirstPaintLarge(benchmark::State &state)
{
    Program &program = *runningProgram;
    QWidget *image = program.WorldScr.findChild<QWidget *>(QStringLiteral("Image1"));
    for (auto _ : state) {
        FirstPaint paint(program.WorldScr);
        image->installEventFilter(&paint);
        // Should the paint never come, the run still ends.
        QTimer::singleShot(30000, &program.WorldScr, &QWidget::close);
        const Clock::time_point pressed = Clock::now();
        program.generate()->click();
        image->removeEventFilter(&paint);
        if (!paint.at) {
            state.SkipWithError("the map was never painted");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(*paint.at - pressed).count());
    }
}
BENCHMARK(BM_GenerateToFirstPaintLarge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15);

// The part of the above that is the core's: the heights and their colours.
void BM_GenerateAndColourLarge(benchmark::State &state)
{
    SeededRandom random;
    World world;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        random.LoadSeed("42861244");
        GenerateHeights(world, "Large", 0, random);
        QImage picture = drawMapPicture(world, Tint{});
        benchmark::DoNotOptimize(picture.constBits());
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_GenerateAndColourLarge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15);

// x1 then x5, the x5 handler timed: the view's storage is already there
// from the previous x5, as when the user zooms back and forth.
void BM_ZoomToX5Large(benchmark::State &state)
{
    Program program;
    program.withMapOpen([&] {
        QAction *x1 = program.entry("x11");
        QAction *x5 = program.entry("X51");
        for (auto _ : state) {
            x1->trigger();
            const Clock::time_point start = Clock::now();
            x5->trigger();
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        }
    });
}
BENCHMARK(BM_ZoomToX5Large)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);

// The first x5 of a run: the storage is fresh memory.
void BM_FirstZoomToX5Large(benchmark::State &state)
{
    for (auto _ : state) {
        Program program;
        program.withMapOpen([&] {
            const Clock::time_point start = Clock::now();
            program.entry("X51")->trigger();
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        });
    }
}
BENCHMARK(BM_FirstZoomToX5Large)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// The core's share of the zoom: x5 into storage already touched.
void BM_CoreZoomViewX5Large(benchmark::State &state)
{
    SeededRandom random;
    random.LoadSeed("42861244");
    World world;
    GenerateHeights(world, "Large", 0, random);
    const QImage base = drawMapPicture(world, Tint{});
    // The view alone holds its pixels, so writing them copies nothing.
    QImage view = [&base] {
        MapView zoomed;
        zoomed.zoom(base, 5);
        return zoomed.image();
    }();
    for (auto _ : state) {
        zoomView(pixelView(base), 5, pixelView(view));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CoreZoomViewX5Large)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);

void BM_MemsetViewBytes(benchmark::State &state)
{
    std::vector<unsigned char> buffer(kX5ViewBytes, 1);
    int value = 0;
    for (auto _ : state) {
        std::memset(buffer.data(), ++value & 0xFF, buffer.size());
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(buffer.data());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kX5ViewBytes));
}
BENCHMARK(BM_MemsetViewBytes)->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(5);

// Answers every message box at once, so that a job's failure does not hold
// up the run.
struct BoxAnswerer {
    QTimer timer;
    BoxAnswerer()
    {
        QObject::connect(&timer, &QTimer::timeout, [] {
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                    box->done(QMessageBox::Ok);
        });
        timer.start(1);
    }
};

#ifdef Q_OS_LINUX
// The window's thread's own time: on a loaded machine a gap in the loop is
// also time the thread waited for a processor, which this leaves out.
Clock::duration threadTime()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}
#else
Clock::duration threadTime() { return {}; }
#endif

// The longest time the window's event loop did not run, from triggering
// `entry` at x5 until the job it starts has ended: a 1 ms timer notes the
// gaps between its turns. The counter gui_busy_ms is the longest of the
// window thread's own times within a gap (Linux only).
void longestStallOfJob(benchmark::State &state, const char *entry)
{
    Program program;
    QTemporaryDir dir;
    program.WorldScr.setFileChooser(
        [&dir](QWidget *, const QString &, const QString &, const QString &) { return dir.filePath("page"); });
    BoxAnswerer boxes;
    program.withMapOpen([&] {
        program.entry("X51")->trigger();
        for (auto _ : state) {
            Clock::duration longest{}, busiest{};
            Clock::time_point last = Clock::now();
            Clock::duration lastBusy = threadTime();
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] {
                const Clock::time_point now = Clock::now();
                const Clock::duration busy = threadTime();
                longest = std::max(longest, now - last);
                busiest = std::max(busiest, busy - lastBusy);
                last = now;
                lastBusy = busy;
            });
            tick.start(1);
            QEventLoop ended;
            QObject::connect(&program.WorldScr, &TWorldScr::jobEnded, &ended, &QEventLoop::quit);
            last = Clock::now();
            lastBusy = threadTime();
            program.entry(entry)->trigger();
            if (program.WorldScr.jobRunning())
                ended.exec();
            longest = std::max(longest, Clock::now() - last);
            busiest = std::max(busiest, threadTime() - lastBusy);
            state.SetIterationTime(std::chrono::duration<double>(longest).count());
            state.counters["gui_busy_ms"] = std::chrono::duration<double, std::milli>(busiest).count();
        }
    });
}

void BM_LongestStallDuringPrintLargeX5(benchmark::State &state) { longestStallOfJob(state, "PrintMap1"); }
BENCHMARK(BM_LongestStallDuringPrintLargeX5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

void BM_LongestStallDuringSavePdfLargeX5(benchmark::State &state) { longestStallOfJob(state, "SavePdf1"); }
BENCHMARK(BM_LongestStallDuringSavePdfLargeX5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

void BM_LongestStallDuringCopyLargeX5(benchmark::State &state) { longestStallOfJob(state, "Copy1"); }
BENCHMARK(BM_LongestStallDuringCopyLargeX5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

// What the window's thread spent on a Print before it had threads of its
// own: the whole job, conversion and page, on that thread.
void BM_PrintLargeX5OnTheWindowThread(benchmark::State &state)
{
    Program program;
    program.withMapOpen([&] {
        program.entry("X51")->trigger();
        const QImage view = program.WorldScr.viewImage();
        for (auto _ : state) {
            const Clock::time_point start = Clock::now();
            QImage printBitmap;
            try {
                print::PrintMap(view, print::pageFor("Bench", "Large", 0, 0), printBitmap);
            } catch (const std::exception &) {
                // no printer: the conversion alone was timed
            }
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        }
    });
}
BENCHMARK(BM_PrintLargeX5OnTheWindowThread)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

// Another program pasting the copied x5 view: on X11 Qt answers with what
// the clipboard's data gives for image/png, on the window's thread. Copy
// offers the PNG encoded by its job; a picture offered as an image alone
// (as QClipboard::setImage does) is encoded at that moment.
void pasteOfCopiedView(benchmark::State &state, bool encodedByTheJob)
{
    Program program;
    program.withMapOpen([&] {
        program.entry("X51")->trigger();
        QEventLoop ended;
        QObject::connect(&program.WorldScr, &TWorldScr::jobEnded, &ended, &QEventLoop::quit);
        program.entry("Copy1")->trigger();
        if (program.WorldScr.jobRunning())
            ended.exec();
        QMimeData imageOnly;
        imageOnly.setImageData(program.WorldScr.viewImage().convertToFormat(QImage::Format_RGB888));
        const QMimeData &offered = encodedByTheJob ? *QGuiApplication::clipboard()->mimeData() : imageOnly;
        for (auto _ : state) {
            const Clock::time_point start = Clock::now();
            QByteArray png = offered.data(QStringLiteral("image/png"));
            if (png.isEmpty()) {
                // What Qt's X11 clipboard does for a type the data does not hold.
                QBuffer buffer(&png);
                buffer.open(QIODevice::WriteOnly);
                qvariant_cast<QImage>(offered.imageData()).save(&buffer, "PNG");
            }
            benchmark::DoNotOptimize(png.constData());
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        }
    });
}
void BM_PasteCopiedLargeX5(benchmark::State &state) { pasteOfCopiedView(state, true); }
BENCHMARK(BM_PasteCopiedLargeX5)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
void BM_PasteImageOnlyLargeX5(benchmark::State &state) { pasteOfCopiedView(state, false); }
BENCHMARK(BM_PasteImageOnlyLargeX5)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// From the explorer's opening to its page of Large worlds all in the list,
// thumbnails made: the wait a user has after each More Worlds too.
void BM_ExplorerPageLarge(benchmark::State &state)
{
    TWorldExplorer explorer;
    auto *list = explorer.findChild<QListWidget *>(QStringLiteral("lstWorlds"));
    WorldSettings settings;
    settings.SizeName = QStringLiteral("Large");
    for (auto _ : state) {
        Clock::time_point start, full;
        const auto connection = QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, &explorer, [&] {
            if (list->count() == TWorldExplorer::kPageWorlds) {
                full = Clock::now();
                explorer.reject();
            }
        });
        start = Clock::now();
        explorer.chooseWorld(settings);
        QObject::disconnect(connection);
        state.SetIterationTime(std::chrono::duration<double>(full - start).count());
    }
}
BENCHMARK(BM_ExplorerPageLarge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(15);

// One step of a slider in an open explorer, from the move to the page of
// Large worlds shown again: heat recolours the thumbnails from the grids the
// page keeps, water looks for the page again. Each at most 100 ms.
void explorerSliderStep(benchmark::State &state, const char *slider)
{
    TWorldExplorer explorer;
    auto *list = explorer.findChild<QListWidget *>(QStringLiteral("lstWorlds"));
    auto *stop = explorer.findChild<QPushButton *>(QStringLiteral("butStop"));
    auto *moved = explorer.findChild<QSlider *>(QString::fromLatin1(slider));
    WorldSettings settings;
    settings.SizeName = QStringLiteral("Large");
    QTimer::singleShot(0, &explorer, [&] {
        const auto pageShown = [&] {
            while (stop->isEnabled() || list->count() < TWorldExplorer::kPageWorlds)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        };
        pageShown();
        int step = 1;
        for (auto _ : state) {
            const Clock::time_point start = Clock::now();
            moved->setValue(moved->value() + step);
            pageShown();
            state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
            step = -step;
        }
        explorer.reject();
    });
    explorer.chooseWorld(settings);
}
void BM_ExplorerHeatStepLarge(benchmark::State &state) { explorerSliderStep(state, "trkHeat"); }
BENCHMARK(BM_ExplorerHeatStepLarge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(3);
void BM_ExplorerWaterStepLarge(benchmark::State &state) { explorerSliderStep(state, "trkWater"); }
BENCHMARK(BM_ExplorerWaterStepLarge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20)->Repetitions(3);

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TerralumeApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Program program;
    runningProgram = &program;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
