// Run with QT_QPA_PLATFORM=offscreen (the default when unset). Compare
// BM_ZoomToX5 with BM_MemsetViewBytes: both write 5120 x 5120 x 2 bytes.

#include "Generator.h"
#include "MapPicture.h"
#include "ProgramWindows.h"
#include "TerralumeApplication.h"

#include <benchmark/benchmark.h>

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QPushButton>
#include <QTimer>

#include <chrono>
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
