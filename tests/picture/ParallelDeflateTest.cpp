// The pieces made on several threads read back as one zlib stream of
// exactly the rows given, whatever the cut between the threads falls on.
#include "ParallelDeflate.h"
#include "WorkerThreads.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace terralume;

namespace {

enum class Pattern { Noise, RepeatedRows, Runs };

struct Shape {
    const char *name;
    int rows;
    qsizetype rowBytes;
    Pattern pattern;
    int level;
};

std::vector<std::uint8_t> makeRows(const Shape &shape)
{
    std::vector<std::uint8_t> bytes(std::size_t(shape.rows * shape.rowBytes));
    std::mt19937 random(7);
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        const std::size_t column = k % std::size_t(shape.rowBytes);
        switch (shape.pattern) {
        case Pattern::Noise:
            bytes[k] = std::uint8_t(random());
            break;
        case Pattern::RepeatedRows: // every row the first one again
            bytes[k] = k < std::size_t(shape.rowBytes) ? std::uint8_t(random()) : bytes[column];
            break;
        case Pattern::Runs: // blocks of five, as a zoomed view has
            bytes[k] = std::uint8_t((column / 5 * 37 + k / std::size_t(shape.rowBytes) / 5 * 11) % 251);
            break;
        }
    }
    return bytes;
}

class ParallelDeflate : public testing::TestWithParam<Shape> {};

TEST_P(ParallelDeflate, InflatesToExactlyTheRows)
{
    const Shape shape = GetParam();
    const std::vector<std::uint8_t> rows = makeRows(shape);
    const RowSource source = [&](int row, std::uint8_t *out) {
        std::copy_n(rows.data() + row * shape.rowBytes, shape.rowBytes, out);
    };
    const QByteArray stream = deflateRows(shape.rows, shape.rowBytes, source, shape.level);

    ASSERT_GE(stream.size(), 6);
    EXPECT_EQ(stream[0], '\x78') << "deflate, 32 KiB window";
    EXPECT_EQ(((uchar(stream[0]) << 8) | uchar(stream[1])) % 31, 0) << "the header's check bits";
    // One byte more than the rows, so a stream that goes on is seen; zlib
    // checks the trailing checksum itself.
    std::vector<std::uint8_t> back(rows.size() + 1);
    uLongf size = uLongf(back.size());
    ASSERT_EQ(uncompress(back.data(), &size, reinterpret_cast<const Bytef *>(stream.constData()), uLong(stream.size())),
              Z_OK);
    back.resize(size);
    EXPECT_TRUE(back == rows);

    // The same bytes where the system grants no thread.
    const RefusedThreadStarts refused;
    EXPECT_EQ(deflateRows(shape.rows, shape.rowBytes, source, shape.level), stream);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ParallelDeflate,
                         testing::Values(Shape{"NoRows", 0, 100, Pattern::Noise, 1},
                                         Shape{"OneShortRow", 1, 10, Pattern::Noise, 1},
                                         // Several megabytes: cut into runs of a megabyte, shared by the cores.
                                         Shape{"ManyNoisyRows", 3000, 1001, Pattern::Noise, 1},
                                         // Rows longer than the window each run starts from.
                                         Shape{"RowsLongerThanTheWindow", 40, 100003, Pattern::RepeatedRows, 1},
                                         Shape{"RowsRepeatedAcrossTheCuts", 4000, 1024, Pattern::RepeatedRows, 1},
                                         Shape{"ZoomedRunsAtALazyLevel", 1500, 2881, Pattern::Runs, 4}),
                         [](const testing::TestParamInfo<Shape> &info) { return info.param.name; });

} // namespace
