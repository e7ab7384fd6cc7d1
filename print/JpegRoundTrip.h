#pragma once
// PrintBitmap is not the view itself: the view goes once through a quality-95
// JPEG and is decoded again by the same library into at most 236 colours, so
// the printed colours are the quantised, dithered colours of that JPEG.

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace terralume::print {

inline constexpr int kJpegQuality = 95;
inline constexpr int kPrintColours = 236;

// `view` must be a QImage::Format_RGB16 (5-6-5) picture. Returns a
// QImage::Format_Indexed8 picture of the same size whose colour table is the
// decoder's colour map (at most 236 entries). A fatal error of the JPEG
// library throws PrintError("JPEG error #<message code>"), but memory running
// short, in the library or around it, throws std::bad_alloc; its warnings
// are ignored. Nothing is left allocated on any path. The compression runs on a
// second thread and streams into the decoder, so the two overlap; the rows
// fed to it are widened one scanline at a time, never as a 24-bit copy.
QImage ReJigPallete(const QImage &view);

// With Threads::None everything runs on the calling thread, as it does when
// no second thread can be had; the picture is the same.
enum class Threads { Available, None };
QImage ReJigPallete(const QImage &view, Threads threads);

// The two halves on their own, one after the other in memory, for tests and
// the benchmark: the view as a baseline quality-95 JPEG, and any JPEG decoded
// into an 8-bit colour-mapped picture with the print parameters. Same
// failures as ReJigPallete.
std::vector<std::uint8_t> compressView(const QImage &view);
QImage decodeToPrintColours(const std::uint8_t *jpeg, std::size_t size);

} // namespace terralume::print
