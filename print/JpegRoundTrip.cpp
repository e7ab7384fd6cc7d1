#include "JpegRoundTrip.h"

#include "Colouring.h"
#include "PrintError.h"

#include <QList>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <cstdlib>
#include <memory>
#include <string>

#include <jpeglib.h>

namespace terralume::print {

namespace {

// A fatal error of the library must not unwind through its C frames: the
// error handler jumps back to the setjmp of the one function that called into
// the library, and that function's frame holds nothing with a destructor.
struct FatalExit {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};
};

[[noreturn]] void jumpOut(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<FatalExit *>(info->err)->jump, 1);
}

void ignoreMessage(j_common_ptr, int) {}
void ignoreOutput(j_common_ptr) {}

void installFatalExit(FatalExit &exit)
{
    jpeg_std_error(&exit.manager);
    exit.manager.error_exit = jumpOut;
    exit.manager.emit_message = ignoreMessage; // warnings are not failures here
    exit.manager.output_message = ignoreOutput;
}

[[noreturn]] void throwJpegError(const FatalExit &exit)
{
    throw PrintError("JPEG error #" + std::to_string(exit.manager.msg_code));
}

// ---- compression -------------------------------------------------------

struct Compression {
    FatalExit fatal;
    jpeg_compress_struct info{};
    const QImage *view = nullptr;
    JSAMPLE *rgbRow = nullptr; // one widened scanline, reused for every row
    unsigned char *data = nullptr;
    unsigned long size = 0;

    Compression() { installFatalExit(fatal); info.err = &fatal.manager; }
    ~Compression()
    {
        // After a fatal error the memory destination may have moved to a
        // bigger block without telling us; its terminator hands over the
        // current one so that it can be freed with the rest.
        if (info.dest != nullptr && data == nullptr)
            info.dest->term_destination(&info);
        jpeg_destroy_compress(&info);
        std::free(data);
    }
    Compression(const Compression &) = delete;
    Compression &operator=(const Compression &) = delete;
};

bool runCompression(Compression *c)
{
    if (setjmp(c->fatal.jump))
        return false;
    jpeg_create_compress(&c->info);
    jpeg_mem_dest(&c->info, &c->data, &c->size);
    // Until the terminator runs, `data` belongs to the destination.
    c->data = nullptr;
    c->size = 0;
    c->info.image_width = static_cast<JDIMENSION>(c->view->width());
    c->info.image_height = static_cast<JDIMENSION>(c->view->height());
    c->info.input_components = 3;
    c->info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c->info);
    jpeg_set_quality(&c->info, kJpegQuality, TRUE);
    jpeg_start_compress(&c->info, TRUE);
    const int width = c->view->width();
    while (c->info.next_scanline < c->info.image_height) {
        const auto *pixels =
            reinterpret_cast<const std::uint16_t *>(c->view->constScanLine(static_cast<int>(c->info.next_scanline)));
        widenRow565ToRgb888(pixels, width, c->rgbRow);
        JSAMPROW row = c->rgbRow;
        jpeg_write_scanlines(&c->info, &row, 1);
    }
    jpeg_finish_compress(&c->info);
    return true;
}

// ---- decompression -----------------------------------------------------

struct Decompression {
    FatalExit fatal;
    jpeg_decompress_struct info{};

    Decompression() { installFatalExit(fatal); info.err = &fatal.manager; }
    ~Decompression() { jpeg_destroy_decompress(&info); }
    Decompression(const Decompression &) = delete;
    Decompression &operator=(const Decompression &) = delete;
};

// Reads the header, sets the print parameters and runs the quantiser's first
// pass, which chooses the colour map for this picture.
bool startDecoding(Decompression *d, const std::uint8_t *jpeg, std::size_t size)
{
    if (setjmp(d->fatal.jump))
        return false;
    jpeg_create_decompress(&d->info);
    jpeg_mem_src(&d->info, jpeg, static_cast<unsigned long>(size));
    jpeg_read_header(&d->info, TRUE);
    d->info.scale_num = 1;
    d->info.scale_denom = 1;
    d->info.do_block_smoothing = TRUE;
    d->info.quantize_colors = TRUE;
    d->info.desired_number_of_colors = kPrintColours;
    jpeg_start_decompress(&d->info);
    return true;
}

bool readDecodedRows(Decompression *d, unsigned char *bits, qsizetype bytesPerLine)
{
    if (setjmp(d->fatal.jump))
        return false;
    while (d->info.output_scanline < d->info.output_height) {
        JSAMPROW row = bits + static_cast<qsizetype>(d->info.output_scanline) * bytesPerLine;
        jpeg_read_scanlines(&d->info, &row, 1);
    }
    jpeg_finish_decompress(&d->info);
    return true;
}

} // namespace

namespace {

void compressInto(Compression &c, const QImage &view)
{
    if (view.format() != QImage::Format_RGB16)
        throw PrintError("The picture to print is not a 5-6-5 picture");
    std::vector<JSAMPLE> rgbRow(static_cast<std::size_t>(view.width()) * 3);
    c.view = &view;
    c.rgbRow = rgbRow.data();
    if (!runCompression(&c))
        throwJpegError(c.fatal);
}

} // namespace

std::vector<std::uint8_t> compressView(const QImage &view)
{
    Compression c;
    compressInto(c, view);
    return std::vector<std::uint8_t>(c.data, c.data + c.size);
}

QImage decodeToPrintColours(const std::uint8_t *jpeg, std::size_t size)
{
    Decompression d;
    if (!startDecoding(&d, jpeg, size))
        throwJpegError(d.fatal);
    QImage result(static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height),
                  QImage::Format_Indexed8);
    if (result.isNull())
        throw std::bad_alloc();
    QList<QRgb> table;
    table.reserve(d.info.actual_number_of_colors);
    for (int i = 0; i < d.info.actual_number_of_colors; ++i)
        table.append(qRgb(d.info.colormap[0][i], d.info.colormap[1][i], d.info.colormap[2][i]));
    result.setColorTable(table);
    if (!readDecodedRows(&d, result.bits(), result.bytesPerLine()))
        throwJpegError(d.fatal);
    return result;
}

QImage ReJigPallete(const QImage &view)
{
    Compression c;
    compressInto(c, view);
    return decodeToPrintColours(c.data, c.size);
}

} // namespace terralume::print
