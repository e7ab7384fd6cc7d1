// Generation and colouring per size, beside the serial-draw reference: a loop
// that makes exactly as many draws of the seeded source as a Large generation
// and nothing else. The ratio generation / reference is what counts.
#include "Colouring.h"
#include "Generator.h"
#include "SeededRandom.h"

#include <benchmark/benchmark.h>

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

} // namespace

BENCHMARK_MAIN();
