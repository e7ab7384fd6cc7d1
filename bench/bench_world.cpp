// Generation and colouring per size, beside the serial-draw reference: a loop
// that makes exactly as many draws of the seeded source as a Large generation
// and nothing else. The ratio generation / reference is what counts. Then the
// figures of a Large world (at most 0.5 ms) and the Large worlds a search
// scans a second on every core: at least 4,000 on two cores, that is at
// least 12 in one reference time of the same run.
#include "Colouring.h"
#include "Generator.h"
#include "SeededRandom.h"
#include "WorldFigures.h"
#include "WorldSearch.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <map>
#include <string>
#include <vector>

using namespace terralume;

namespace {

const char *const kSizes[] = {"Small", "Medium", "Large"};

void BM_Generate(benchmark::State &state)
{
    const char *size = kSizes[state.range(0)];
    World world;
    SeededRandom random;
    for (auto _ : state) {
        random.LoadSeed("42861244");
        GenerateHeights(world, size, 0, random);
        benchmark::DoNotOptimize(world.Heights.data());
    }
    state.SetLabel(size);
}
BENCHMARK(BM_Generate)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_SerialDrawReference(benchmark::State &state)
{
    const std::uint64_t draws = drawsPerGeneration("Large");
    SeededRandom random;
    for (auto _ : state) {
        random.LoadSeed("42861244");
        std::uint32_t sink = 0;
        for (std::uint64_t k = 0; k < draws; ++k)
            sink += random.RandomBelow(static_cast<std::uint32_t>(3 + (k & 127)));
        benchmark::DoNotOptimize(sink);
    }
    state.SetLabel("Large draw count");
}
BENCHMARK(BM_SerialDrawReference)->Unit(benchmark::kMillisecond);

void BM_Colour(benchmark::State &state)
{
    const char *size = kSizes[state.range(0)];
    World world;
    SeededRandom random;
    random.LoadSeed("42861244");
    GenerateHeights(world, size, 0, random);
    const int side = world.Heights.side();
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    for (auto _ : state) {
        colourWorld(world, Tint{10, 0}, {pixels.data(), side, side, side * 2});
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetLabel(size);
}
BENCHMARK(BM_Colour)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_Figures(benchmark::State &state)
{
    World world;
    SeededRandom random;
    random.LoadSeed("42861244");
    GenerateHeights(world, "Large", 0, random);
    FigureCounter counter;
    for (auto _ : state)
        benchmark::DoNotOptimize(counter.count(world));
    state.SetLabel("Large");
}
BENCHMARK(BM_Figures)->Unit(benchmark::kMicrosecond);

// Generation and figures of one world after another on one thread: the
// cost a search pays per world and core.
void BM_GenerateAndFigures(benchmark::State &state)
{
    World world;
    FigureCounter counter;
    std::int64_t seed = 1;
    for (auto _ : state)
        benchmark::DoNotOptimize(figuresOfSeed(seed++, "Large", 0, world, counter));
    state.SetLabel("Large");
}
BENCHMARK(BM_GenerateAndFigures)->Unit(benchmark::kMillisecond);

// A whole search as the renderer runs it, every core at work, every seed a
// match so that none is skipped: worlds scanned per second of wall time.
void BM_SearchLarge(benchmark::State &state)
{
    // A scan as long as a real search's: with a few hundred seeds the start
    // of the threads and the wait for the last block were half the time.
    constexpr std::int64_t kSeeds = 2048;
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    SearchRequest request;
    request.size = "Large";
    request.limit = kSeeds;
    request.wanted = kSeeds;
    for (auto _ : state) {
        const std::int64_t found = searchWorlds(request, threads, [](const FoundWorld &) { return true; });
        benchmark::DoNotOptimize(found);
        request.start += kSeeds;
    }
    state.SetItemsProcessed(state.iterations() * kSeeds);
    state.SetLabel(std::to_string(threads) + " threads");
}
BENCHMARK(BM_SearchLarge)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the ratios the targets are stated in, from medians taken in this
// same run, after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            if (median || (run.run_type == Run::RT_Iteration && !times_.count(name))) {
                times_[name] = run.GetAdjustedCPUTime();
                const auto rate = run.counters.find("items_per_second");
                if (rate != run.counters.end())
                    rates_[name] = rate->second;
            }
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto figures = times_.find("BM_Figures/");
        if (figures != times_.end())
            std::printf("\nFigures of a Large world: %.0f us\n", figures->second);
        const auto search = rates_.find("BM_SearchLarge/");
        if (search != rates_.end())
            std::printf("Search: %.0f Large worlds scanned a second on %u cores\n", search->second,
                        std::max(1u, std::thread::hardware_concurrency()));
        const auto reference = times_.find("BM_SerialDrawReference/");
        if (reference == times_.end())
            return;
        const double ref = reference->second * 1000.0; // ms -> us, the unit of the colouring rows
        std::printf("\nAgainst the serial-draw reference (%.3f ms):\n", reference->second);
        for (int size = 0; size < 3; ++size) {
            const auto gen = times_.find("BM_Generate/" + std::to_string(size));
            const auto col = times_.find("BM_Colour/" + std::to_string(size));
            if (gen != times_.end())
                std::printf("  generate %-6s %.2f x\n", kSizes[size], gen->second / reference->second);
            if (col != times_.end())
                std::printf("  colour   %-6s %.2f x\n", kSizes[size], col->second / ref);
        }
        const auto both = times_.find("BM_GenerateAndFigures/");
        if (both != times_.end())
            std::printf("  generate and figures, Large %.2f x (%.2f ms a world and core)\n",
                        both->second / reference->second, both->second);
        if (search != rates_.end())
            std::printf("  search, Large %.1f worlds scanned in one reference time\n",
                        search->second * reference->second / 1000.0);
    }

private:
    std::map<std::string, double> times_;
    std::map<std::string, double> rates_;
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
