// The print conversion of the largest view (Large at zoom 5, 5120 x 5120),
// side by side with `cjpeg -quality 95 -baseline | djpeg -colors 236` (block
// smoothing, two-pass Floyd-Steinberg: the tools' defaults) on the same
// picture in the same run; the ratio ours / tools is what counts (<= 1.0).
//
// BM_WholePrint runs this program again as `bench_print --whole-print`, so
// that the peak resident memory it reports is that of one whole print alone:
// making the view, the conversion and the page composition. With a default
// printer it prints there and reports the time from the command to the job
// handed to the spooler; without one it writes the PDF page instead.
#include "Colouring.h"
#include "Generator.h"
#include "JpegRoundTrip.h"
#include "MapPicture.h"
#include "MapPrinter.h"
#include "PrintJob.h"
#include "SeededRandom.h"
#include "ViewPng.h"
#include "WorldRecord.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinterInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace terralume;

namespace {

QImage largeViewAtZoom5()
{
    World world;
    SeededRandom random;
    random.LoadSeed("42861244");
    GenerateHeights(world, "Large", 0, random);
    MapView view;
    view.zoom(drawMapPicture(world, tintFromHeatPosition(0)), 5);
    return view.image();
}

const QImage &view()
{
    static const QImage picture = largeViewAtZoom5();
    return picture;
}

// The same picture as the tools read it: binary PPM of the widened pixels.
QString ppmOfView(const QTemporaryDir &dir)
{
    const QString name = dir.filePath(QStringLiteral("view.ppm"));
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    const QImage &v = view();
    file.write(QStringLiteral("P6\n%1 %2\n255\n").arg(v.width()).arg(v.height()).toLatin1());
    QByteArray row(v.width() * 3, '\0');
    for (int y = 0; y < v.height(); ++y) {
        widenRow565ToRgb888(reinterpret_cast<const std::uint16_t *>(v.constScanLine(y)), v.width(),
                            reinterpret_cast<std::uint8_t *>(row.data()));
        file.write(row);
    }
    return name;
}

double toolsSeconds(const QString &ppm)
{
    const QString pipeline = QStringLiteral("cjpeg -quality 95 -baseline '%1' | djpeg -colors 236 -dither fs -bmp "
                                            "-outfile /dev/null")
                                 .arg(ppm);
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(pipeline.toLocal8Bit().constData());
    const auto stop = std::chrono::steady_clock::now();
    return status == 0 ? std::chrono::duration<double>(stop - start).count() : -1.0;
}

void BM_ReJigPalleteBesideTools(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString ppm = ppmOfView(dir);
    if (ppm.isEmpty()) {
        state.SkipWithError("cannot write the PPM");
        return;
    }
    double ours = 0, tools = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const QImage printed = print::ReJigPallete(view());
        const auto stop = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(printed.constBits());
        const double mine = std::chrono::duration<double>(stop - start).count();
        const double theirs = toolsSeconds(ppm);
        if (theirs < 0) {
            state.SkipWithError("cjpeg | djpeg failed");
            return;
        }
        state.SetIterationTime(mine);
        ours += mine;
        tools += theirs;
    }
    state.counters["tools_ms"] = benchmark::Counter(1000 * tools / double(state.iterations()));
    state.counters["ours_over_tools"] = benchmark::Counter(ours / tools);
}
BENCHMARK(BM_ReJigPalleteBesideTools)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The two halves on their own, one after the other on one thread.
void BM_CompressOnly(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(print::compressView(view()).size());
}
BENCHMARK(BM_CompressOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DecodeOnly(benchmark::State &state)
{
    const std::vector<std::uint8_t> jpeg = print::compressView(view());
    for (auto _ : state)
        benchmark::DoNotOptimize(print::decodeToPrintColours(jpeg.data(), jpeg.size()).constBits());
    state.counters["jpeg_MiB"] = jpeg.size() / 1048576.0;
}
BENCHMARK(BM_DecodeOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_WholePrint(benchmark::State &state)
{
    for (auto _ : state) {
        QProcess child;
        child.start(QStringLiteral("/proc/self/exe"), {QStringLiteral("--whole-print")});
        if (!child.waitForFinished(300000) || child.exitCode() != 0) {
            state.SkipWithError(child.readAllStandardError().constData());
            return;
        }
        // "peak_mib=N handed_ms=N printed=0|1"
        double peak = 0, handed = 0;
        int printed = 0;
        std::sscanf(child.readAllStandardOutput().constData(), "peak_mib=%lf handed_ms=%lf printed=%d", &peak, &handed,
                    &printed);
        state.SetIterationTime(handed / 1000.0);
        state.counters["peak_MiB"] = peak;
        state.counters["on_printer"] = printed;
    }
}
BENCHMARK(BM_WholePrint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

int wholePrint(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QImage picture = largeViewAtZoom5();
    const print::PageDescription page{QStringLiteral("Terralume - Benchmark"), QStringLiteral("Large"), 0, 0, {}};
    QElapsedTimer clock;
    const bool printer = !QPrinterInfo::defaultPrinter().isNull();
    QImage printBitmap;
    QTemporaryDir dir;
    clock.start();
    if (printer) {
        print::PrintMap(picture, page, printBitmap);
    } else {
        QFile pdf(dir.filePath(QStringLiteral("page.pdf")));
        if (!pdf.open(QIODevice::WriteOnly) || pdf.write(print::composePdfBytes(picture, page)) < 0)
            return 1;
    }
    const qint64 elapsed = clock.elapsed();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak_mib=%.1f handed_ms=%lld printed=%d\n", usage.ru_maxrss / 1024.0, static_cast<long long>(elapsed),
                printer ? 1 : 0);
    return 0;
}

// The PDF page and the saved picture of the same view, each beside a
// memset of as many bytes as its picture holds, in the same run. The pages
// need fonts, so these make the program's GUI application once.
QGuiApplication &guiApplication()
{
    static int argc = 1;
    static char name[] = "bench_print";
    static char *argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(argc, argv);
    return app;
}

double memsetMilliseconds(qsizetype bytes)
{
    std::vector<char> target(std::size_t(bytes), 1);
    const auto start = std::chrono::steady_clock::now();
    std::memset(target.data(), 7, target.size());
    benchmark::ClobberMemory();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

const print::PageDescription &benchPage()
{
    static const print::PageDescription page{QStringLiteral("Terralume - Benchmark"), QStringLiteral("Large"), 0, 0,
                                             QDateTime(QDate(2026, 3, 7), QTime(9, 5))};
    return page;
}

const QImage &printBitmap()
{
    static const QImage bitmap = print::ReJigPallete(view());
    return bitmap;
}

QPageLayout a4Page()
{
    const QMarginsF margins(print::kPdfMarginMillimetres, print::kPdfMarginMillimetres, print::kPdfMarginMillimetres,
                            print::kPdfMarginMillimetres);
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, margins, QPageLayout::Millimeter);
}

// The page as Qt's PDF engine alone writes it, the picture drawn in bands:
// how the page was made before it wrote the picture's image itself.
QByteArray qtEnginePage(const QImage &bitmap)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(print::kPdfDotsPerInch);
    writer.setPageLayout(a4Page());
    QPainter painter(&writer);
    print::composePage(painter, writer.width(), writer.height(), writer.logicalDpiY(), benchPage(), bitmap, {});
    painter.end();
    return bytes;
}

// pdfPage alone, from a PrintBitmap already made: the part of Print and of
// Save Page As PDF after the JPEG round trip.
void BM_PdfPage(benchmark::State &state)
{
    guiApplication();
    const QImage &bitmap = printBitmap();
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray pdf = print::pdfPage(bitmap, benchPage(), a4Page(), print::kPdfDotsPerInch, QString());
        size = pdf.size();
        benchmark::DoNotOptimize(pdf.constData());
    }
    const auto start = std::chrono::steady_clock::now();
    const qsizetype qtSize = qtEnginePage(bitmap).size();
    const double qtMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.counters["pdf_MiB"] = size / 1048576.0;
    state.counters["qt_engine_ms"] = qtMs;
    state.counters["qt_engine_MiB"] = qtSize / 1048576.0;
    state.counters["memset_ms"] = memsetMilliseconds(bitmap.sizeInBytes());
}
BENCHMARK(BM_PdfPage)->Unit(benchmark::kMillisecond)->Iterations(3);

// File > Save Page As PDF of the largest view: the JPEG round trip, the page
// and the file written.
void BM_SavePageAsPdf(benchmark::State &state)
{
    guiApplication();
    QTemporaryDir dir;
    for (auto _ : state) {
        QFile file(dir.filePath(QStringLiteral("page.pdf")));
        if (!file.open(QIODevice::WriteOnly) || file.write(print::composePdfBytes(view(), benchPage())) < 0) {
            state.SkipWithError("cannot write the PDF page");
            return;
        }
    }
    state.counters["memset_ms"] = memsetMilliseconds(view().sizeInBytes());
}
BENCHMARK(BM_SavePageAsPdf)->Unit(benchmark::kMillisecond)->Iterations(3);

// File > Save Picture As of the largest view, beside Qt's RGB PNG of it with
// the same record (how it was saved before): time and size.
void BM_SavePictureAs(benchmark::State &state)
{
    const WorldRecord record{QStringLiteral("Large"), QStringLiteral("42861244"), 0, 0, QStringLiteral("Benchmark")};
    qsizetype size = 0;
    for (auto _ : state) {
        const QByteArray png = encodeRecordedPng(view(), record);
        size = png.size();
        benchmark::DoNotOptimize(png.constData());
    }
    const auto start = std::chrono::steady_clock::now();
    QImage rgb = view().convertToFormat(QImage::Format_RGB888);
    rgb.setText(QStringLiteral("Title"), record.title);
    QByteArray qtPng;
    QBuffer buffer(&qtPng);
    buffer.open(QIODevice::WriteOnly);
    rgb.save(&buffer, "PNG");
    state.counters["qt_rgb_ms"] =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    state.counters["png_MiB"] = size / 1048576.0;
    state.counters["size_over_qt_rgb"] = double(size) / double(qtPng.size());
    state.counters["memset_ms"] = memsetMilliseconds(view().sizeInBytes());
}
BENCHMARK(BM_SavePictureAs)->Unit(benchmark::kMillisecond)->Iterations(3);

// The PNG that File > Copy can offer other programs.
void BM_ClipboardPng(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeViewPng(view()).constData());
    state.counters["memset_ms"] = memsetMilliseconds(view().sizeInBytes());
}
BENCHMARK(BM_ClipboardPng)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--whole-print") == 0)
        return wholePrint(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
