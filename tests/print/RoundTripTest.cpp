#include "JpegRoundTrip.h"
#include "PrintError.h"
#include "TestMaps.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

TEST(RoundTripRepeat, SameViewGivesTheSameBitmapStreamedOrNotOnOneThreadOrTwo)
{
    // Large enough for the streamed JPEG to pass in many chunks.
    const QImage view = maps::mapView("Medium", -5, 10, 2);
    const QImage first = ReJigPallete(view);
    const std::vector<std::uint8_t> jpeg = compressView(view);
    for (const QImage &again :
         {ReJigPallete(view), ReJigPallete(view, Threads::None), decodeToPrintColours(jpeg.data(), jpeg.size())}) {
        EXPECT_EQ(again.colorTable(), first.colorTable());
        EXPECT_TRUE(again == first);
    }
}

// PrintBitmap is, pixel for pixel and colour for colour, what the JPEG
// library's own tools make of the view: `cjpeg -quality 95 -baseline` then
// `djpeg -colors 236` (two-pass colour choice, Floyd-Steinberg), here written
// as an 8-bit BMP whose colour table is the tools' colour map.
struct ToolCase {
    const char *name;
    std::function<QImage()> view;
};

class SameAsTheTools : public ::testing::TestWithParam<ToolCase> {};

QImage filled(int width, int height, const std::function<std::uint16_t(int, int)> &pixel)
{
    QImage view(width, height, QImage::Format_RGB16);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            reinterpret_cast<std::uint16_t *>(view.scanLine(y))[x] = pixel(x, y);
    return view;
}

// The tool's standard output, or nothing when it did not run to a clean end.
QByteArray runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

QImage toolsPrintBitmap(const QImage &view, const QTemporaryDir &dir)
{
    const QString ppm = dir.filePath(QStringLiteral("view.ppm"));
    const QString jpeg = dir.filePath(QStringLiteral("view.jpg"));
    QFile file(ppm);
    if (!file.open(QIODevice::WriteOnly))
        return QImage();
    file.write(QStringLiteral("P6\n%1 %2\n255\n").arg(view.width()).arg(view.height()).toLatin1());
    QByteArray row(view.width() * 3, '\0');
    for (int y = 0; y < view.height(); ++y) {
        widenRow565ToRgb888(reinterpret_cast<const std::uint16_t *>(view.constScanLine(y)), view.width(),
                            reinterpret_cast<std::uint8_t *>(row.data()));
        file.write(row);
    }
    file.close();
    runTool(QStringLiteral("cjpeg"), {"-quality", "95", "-baseline", "-outfile", jpeg, ppm});
    return QImage::fromData(runTool(QStringLiteral("djpeg"), {"-colors", "236", "-bmp", jpeg}), "BMP");
}

TEST_P(SameAsTheTools, PixelForPixelAndColourForColour)
{
    const QImage view = GetParam().view();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QImage theirs = toolsPrintBitmap(view, dir);
    ASSERT_EQ(theirs.format(), QImage::Format_Indexed8);
    const QImage ours = ReJigPallete(view);
    ASSERT_EQ(ours.size(), theirs.size());
    // The BMP pads the colour map to 256 entries with black.
    ASSERT_LE(ours.colorCount(), theirs.colorCount());
    for (int i = 0; i < ours.colorCount(); ++i)
        ASSERT_EQ(ours.color(i), theirs.color(i)) << "colour " << i;
    for (int i = ours.colorCount(); i < theirs.colorCount(); ++i)
        ASSERT_EQ(theirs.color(i), qRgb(0, 0, 0)) << "colour " << i << " beyond ours";
    for (int y = 0; y < ours.height(); ++y)
        ASSERT_EQ(std::memcmp(ours.constScanLine(y), theirs.constScanLine(y), static_cast<std::size_t>(ours.width())),
                  0)
            << "row " << y;
}

INSTANTIATE_TEST_SUITE_P(
    Views, SameAsTheTools,
    ::testing::Values(ToolCase{"SmallMap", [] { return maps::mapView("Small"); }},
                      ToolCase{"MediumWetHotZoom2", [] { return maps::mapView("Medium", -5, 10, 2); }},
                      ToolCase{"SmallColdZoom3OtherSeed", [] { return maps::mapView("Small", 20, -40, 3, "31337"); }},
                      ToolCase{"LargeMap", [] { return maps::mapView("Large", 0, 0, 1, "7"); }},
                      // Four flat quarters: far fewer than 236 colours survive the JPEG.
                      ToolCase{"FewColours",
                               [] {
                                   return filled(64, 48, [](int x, int y) {
                                       return static_cast<std::uint16_t>(x < 32 ? (y < 24 ? 0xF800 : 0x07E0)
                                                                                : (y < 24 ? 0x001F : 0xFFFF));
                                   });
                               }},
                      ToolCase{"OnePixel", [] { return filled(1, 1, [](int, int) { return std::uint16_t{0x4A69}; }); }},
                      // One grey on far more than 65535 pixels, below it greys close to it
                      // between colours from all over: the library's counts stop at 65535,
                      // which moves the mean of the box that holds that grey.
                      ToolCase{"CountsStopAt65535",
                               [] {
                                   return filled(512, 512, [](int x, int y) {
                                       const std::uint32_t h =
                                           static_cast<std::uint32_t>(x * 512 + y) * 2654435761u >> 12;
                                       if (y < 300)
                                           return std::uint16_t{0x8410};
                                       if (x % 2 == 0)
                                           return static_cast<std::uint16_t>(h);
                                       return static_cast<std::uint16_t>((14 + h % 5) << 11 | (28 + (h >> 3) % 9) << 5 |
                                                                         (14 + (h >> 7) % 5));
                                   });
                               }}),
    [](const ::testing::TestParamInfo<ToolCase> &info) { return std::string(info.param.name); });

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
// a JPEG error code. Rows: no room for the printed picture (16 MiB here), and
// room for it but for little beside it. Each runs in a fresh copy of this
// program: memory freed by earlier tests would otherwise be room it could use.
class ShortOfMemory : public ::testing::TestWithParam<int> {};

// The round trip's outcome with only `roomMiB` of address space beyond what
// is mapped now.
std::string outcomeWithRoom(const QImage &view, int roomMiB)
{
    rlimit previous{};
    if (getrlimit(RLIMIT_AS, &previous) != 0)
        return "(no limit)";
    unsigned long long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit cap{pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t(roomMiB) << 20), previous.rlim_max};
    if (pages == 0 || setrlimit(RLIMIT_AS, &cap) != 0)
        return "(no limit)";
    std::string outcome = "(no error)";
    try {
        ReJigPallete(view);
    } catch (const std::bad_alloc &) {
        outcome = "out of memory";
    } catch (const std::exception &e) {
        outcome = e.what();
    }
    setrlimit(RLIMIT_AS, &previous);
    return outcome;
}

TEST_P(ShortOfMemory, IsReportedAsOutOfMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves far more address space than any limit worth testing";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const int room = GetParam();
    EXPECT_EXIT(
        {
            QImage view(4096, 4096, QImage::Format_RGB16);
            for (int y = 0; y < view.height(); ++y)
                for (int x = 0; x < view.width(); ++x)
                    reinterpret_cast<std::uint16_t *>(view.scanLine(y))[x] =
                        static_cast<std::uint16_t>((x / 64) << 11 | (y / 32));
            const std::string outcome = outcomeWithRoom(view, room);
            std::fprintf(stderr, "outcome: %s\n", outcome.c_str());
            std::exit(outcome == "out of memory" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "outcome: out of memory");
#endif
}

INSTANTIATE_TEST_SUITE_P(RoomLeft, ShortOfMemory, ::testing::Values(4, 24));

} // namespace
