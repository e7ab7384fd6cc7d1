#include "JpegRoundTrip.h"
#include "PrintError.h"
#include "TestMaps.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <set>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

#include <sys/resource.h>
#include <unistd.h>

using namespace terralume;
using namespace terralume::print;

namespace {

struct ViewCase {
    const char *size;
    int water, heat, zoom;
};

class RoundTrip : public ::testing::TestWithParam<ViewCase> {};

// Mean over the picture of the largest per-channel difference between a
// pixel of PrintBitmap and the view's widened colour; and the same after
// averaging 4 x 4 blocks, which is what the eye sees of the dithering.
struct Distance {
    double mean = 0;
    double blockMean = 0;
};

Distance distance(const QImage &view, const QImage &printed)
{
    const int w = view.width(), h = view.height(), block = 4;
    double sum = 0, blockSum = 0;
    int blocks = 0;
    for (int by = 0; by + block <= h; by += block)
        for (int bx = 0; bx + block <= w; bx += block) {
            int accView[3] = {0, 0, 0}, accPrint[3] = {0, 0, 0};
            for (int y = by; y < by + block; ++y)
                for (int x = bx; x < bx + block; ++x) {
                    const Rgb8 v = widen565(reinterpret_cast<const std::uint16_t *>(view.constScanLine(y))[x]);
                    const QRgb p = printed.color(printed.constScanLine(y)[x]);
                    const int d[3] = {qRed(p) - v.red, qGreen(p) - v.green, qBlue(p) - v.blue};
                    sum += std::max({std::abs(d[0]), std::abs(d[1]), std::abs(d[2])});
                    accView[0] += v.red, accView[1] += v.green, accView[2] += v.blue;
                    accPrint[0] += qRed(p), accPrint[1] += qGreen(p), accPrint[2] += qBlue(p);
                }
            double worst = 0;
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(accPrint[c] - accView[c]) / double(block * block));
            blockSum += worst;
            ++blocks;
        }
    return Distance{sum / (double(w) * h), blockSum / blocks};
}

TEST_P(RoundTrip, KeepsSizeAndStaysCloseInAtMost236Colours)
{
    const ViewCase c = GetParam();
    const QImage view = maps::mapView(c.size, c.water, c.heat, c.zoom);
    const QImage printed = ReJigPallete(view);

    ASSERT_EQ(printed.size(), view.size());
    ASSERT_EQ(printed.format(), QImage::Format_Indexed8);
    ASSERT_GT(printed.colorCount(), 1);
    ASSERT_LE(printed.colorCount(), kPrintColours);
    std::set<int> used;
    for (int y = 0; y < printed.height(); ++y)
        for (int x = 0; x < printed.width(); ++x) {
            const int index = printed.constScanLine(y)[x];
            ASSERT_LT(index, printed.colorCount()) << x << "," << y;
            used.insert(index);
        }
    EXPECT_GT(used.size(), 10u); // the quantiser really spread the map's colours

    // Measured on these maps: 6.7 to 13.1 per pixel and 2.3 to 5.2 per 4 x 4
    // block (the coastline's black next to blue and green suffers most from
    // the JPEG's halved colour resolution); a wrong colour map or swapped
    // channels give tens.
    const Distance d = distance(view, printed);
    EXPECT_LT(d.mean, 15.0);
    EXPECT_LT(d.blockMean, 6.5);
}

INSTANTIATE_TEST_SUITE_P(Maps, RoundTrip,
                         ::testing::Values(ViewCase{"Small", 0, 0, 1}, ViewCase{"Medium", -5, 10, 1},
                                           ViewCase{"Small", 20, -40, 3}, ViewCase{"Medium", -40, 40, 2}));

class OddSizes : public ::testing::TestWithParam<QSize> {};

TEST_P(OddSizes, KeepTheirSize)
{
    // Padded scanlines and pictures smaller than one JPEG block.
    QImage view(GetParam(), QImage::Format_RGB16);
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x)
            reinterpret_cast<std::uint16_t *>(view.scanLine(y))[x] = static_cast<std::uint16_t>(x * 2654435761u + y);
    const QImage printed = ReJigPallete(view);
    EXPECT_EQ(printed.size(), view.size());
    EXPECT_EQ(printed.format(), QImage::Format_Indexed8);
    EXPECT_LE(printed.colorCount(), kPrintColours);
}

INSTANTIATE_TEST_SUITE_P(Rows, OddSizes, ::testing::Values(QSize(1, 1), QSize(7, 3), QSize(1, 100), QSize(333, 1)));

TEST(RoundTripRepeat, SameViewGivesTheSameBitmapStreamedOrNot)
{
    // Large enough for the streamed JPEG to pass in many chunks.
    const QImage view = maps::mapView("Medium", -5, 10, 2);
    const QImage first = ReJigPallete(view);
    const std::vector<std::uint8_t> jpeg = compressView(view);
    for (const QImage &again : {ReJigPallete(view), decodeToPrintColours(jpeg.data(), jpeg.size())}) {
        EXPECT_EQ(again.colorTable(), first.colorTable());
        EXPECT_TRUE(again == first);
    }
}

// The JPEG decoded plainly, without the print quantiser, as 24-bit rows.
std::vector<std::uint8_t> plainDecode(const std::vector<std::uint8_t> &jpeg)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    std::vector<std::uint8_t> rgb(std::size_t{info.output_width} * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = rgb.data() + std::size_t{info.output_scanline} * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return rgb;
}

TEST(RoundTripRepeat, ViewIsWidenedAsTheRendererWidensIt)
{
    // 5-6-5 white and black survive a quality-95 JPEG exactly when the low
    // bits are filled by repetition (255); a plain shift would give 248/252.
    QImage view(32, 16, QImage::Format_RGB16);
    view.fill(Qt::black);
    for (int y = 0; y < 16; ++y)
        for (int x = 16; x < 32; ++x)
            reinterpret_cast<std::uint16_t *>(view.scanLine(y))[x] = kWhite565;
    const std::vector<std::uint8_t> rgb = plainDecode(compressView(view));
    ASSERT_EQ(rgb.size(), 32u * 16u * 3u);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(rgb[(8 * 32 + 28) * 3 + c], 255) << "channel " << c;
        EXPECT_EQ(rgb[(8 * 32 + 3) * 3 + c], 0) << "channel " << c;
    }
}

std::string messageOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const PrintError &e) {
        return e.what();
    }
    return "(no error)";
}

TEST(RoundTripFailure, CompressorFatalErrorIsReportedWithItsCode)
{
    // Wider than any JPEG may be: the compressor stops at the start.
    const QImage view(JPEG_MAX_DIMENSION + 1, 2, QImage::Format_RGB16);
    ASSERT_FALSE(view.isNull());
    EXPECT_EQ(messageOf([&] { ReJigPallete(view); }), "JPEG error #" + std::to_string(JERR_IMAGE_TOO_BIG));
}

TEST(RoundTripFailure, DecoderFatalErrorIsReportedWithItsCode)
{
    const std::uint8_t notJpeg[] = "GIF89a, not a JPEG at all";
    EXPECT_EQ(messageOf([&] { decodeToPrintColours(notJpeg, sizeof notJpeg); }),
              "JPEG error #" + std::to_string(JERR_NO_SOI));
    // Cut short mid-way, the decoder only warns; the picture still comes out.
    const std::vector<std::uint8_t> jpeg = compressView(maps::mapView("Small"));
    const QImage cut = decodeToPrintColours(jpeg.data(), jpeg.size() / 2);
    EXPECT_EQ(cut.size(), QSize(257, 257));
}

TEST(RoundTripFailure, OnlyFiveSixFiveViewsAreTaken)
{
    QImage view(16, 16, QImage::Format_RGB32);
    view.fill(Qt::white);
    EXPECT_EQ(messageOf([&] { ReJigPallete(view); }), "The picture to print is not a 5-6-5 picture");
}

TEST(RoundTripFailure, BaselineQuality95IsWhatTheCompressorWrites)
{
    const std::vector<std::uint8_t> jpeg = compressView(maps::mapView("Small"));
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    // SOF0 (baseline sequential) and never SOF2 (progressive).
    bool baseline = false, progressive = false;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF) {
            baseline |= jpeg[i + 1] == 0xC0;
            progressive |= jpeg[i + 1] == 0xC2;
        }
    EXPECT_TRUE(baseline);
    EXPECT_FALSE(progressive);
}

// Memory that runs short inside the round trip is reported as such, not as
// a JPEG error code. Rows: room for little more than the compressor's thread,
// and none even for that; neither leaves room for the decoder's whole-picture
// buffer of the two-pass colour choice (48 MiB here).
class ShortOfMemory : public ::testing::TestWithParam<int> {};

TEST_P(ShortOfMemory, IsReportedAsOutOfMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves far more address space than any limit worth testing";
#else
    QImage view(4096, 4096, QImage::Format_RGB16);
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x)
            reinterpret_cast<std::uint16_t *>(view.scanLine(y))[x] =
                static_cast<std::uint16_t>((x / 64) << 11 | (y / 32));
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &previous), 0);
    unsigned long long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    ASSERT_GT(pages, 0u);
    const rlimit cap{pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t(GetParam()) << 20),
                     previous.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_AS, &cap), 0);
    std::string outcome = "(no error)";
    try {
        ReJigPallete(view);
    } catch (const std::bad_alloc &) {
        outcome = "out of memory";
    } catch (const std::exception &e) {
        outcome = e.what();
    }
    setrlimit(RLIMIT_AS, &previous);
    EXPECT_EQ(outcome, "out of memory");
#endif
}

INSTANTIATE_TEST_SUITE_P(RoomLeft, ShortOfMemory, ::testing::Values(4, 24));

} // namespace
