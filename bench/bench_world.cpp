// Generation and colouring per size, beside the serial-draw reference: a loop
// that makes exactly as many draws of the seeded source as a Large generation
// and nothing else. The ratio generation / reference is what counts.
#include "Colouring.h"
#include "Generator.h"
#include "SeededRandom.h"

#include <benchmark/benchmark.h>

#include <cstdio>
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

// Prints the ratios the targets are stated in, from medians taken in this
// same run, after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration &&
                           !times_.count(run.run_name.function_name + "/" + run.run_name.args)))
                times_[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedCPUTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
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
    }

private:
    std::map<std::string, double> times_;
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
