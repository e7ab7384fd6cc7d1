#include "JpegRoundTrip.h"

#include "Colouring.h"
#include "JpegChannel.h"
#include "PrintError.h"

#include <QList>

#include <csetjmp>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include <jerror.h>

namespace terralume::print {

namespace {

// A fatal error of the library must not unwind through its C frames: the
// error handler jumps back to the setjmp of the one function that called into
// the library, and that function's frame holds nothing with a destructor.
struct FatalExit {
    jpeg_error_mgr manager{};
    std::jmp_buf jump{};

    FatalExit()
    {
        jpeg_std_error(&manager);
        manager.error_exit = [](j_common_ptr info) { std::longjmp(reinterpret_cast<FatalExit *>(info->err)->jump, 1); };
        manager.emit_message = [](j_common_ptr, int) {}; // warnings are not failures here
        manager.output_message = [](j_common_ptr) {};
    }
};

// Memory running short is no fault of the picture: it fails the way every
// other allocation of the program does, and the user is told so in words.
[[noreturn]] void throwJpegError(int code)
{
    if (code == JERR_OUT_OF_MEMORY)
        throw std::bad_alloc();
    throw PrintError("JPEG error #" + std::to_string(code));
}

void checkView(const QImage &view)
{
    if (view.format() != QImage::Format_RGB16)
        throw PrintError("The picture to print is not a 5-6-5 picture");
}

// ---- compression -------------------------------------------------------

struct Compression {
    FatalExit fatal;
    jpeg_compress_struct info{};

    Compression() { info.err = &fatal.manager; }
    ~Compression() { jpeg_destroy_compress(&info); }
    Compression(const Compression &) = delete;
    Compression &operator=(const Compression &) = delete;
};

// `rgbRow` holds one widened scanline, reused for every row.
bool runCompression(Compression &c, const QImage &view, ChannelDestination &destination, JSAMPLE *rgbRow)
{
    if (setjmp(c.fatal.jump))
        return false;
    jpeg_create_compress(&c.info);
    c.info.dest = &destination;
    c.info.image_width = static_cast<JDIMENSION>(view.width());
    c.info.image_height = static_cast<JDIMENSION>(view.height());
    c.info.input_components = 3;
    c.info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, kJpegQuality, TRUE);
    jpeg_start_compress(&c.info, TRUE);
    while (c.info.next_scanline < c.info.image_height) {
        const auto *pixels =
            reinterpret_cast<const std::uint16_t *>(view.constScanLine(static_cast<int>(c.info.next_scanline)));
        widenRow565ToRgb888(pixels, view.width(), rgbRow);
        JSAMPROW row = rgbRow;
        jpeg_write_scanlines(&c.info, &row, 1);
    }
    jpeg_finish_compress(&c.info);
    return true;
}

// Compresses `view` into `channel` and closes it. Returns the library's
// message code of a fatal error, or 0 when it finished or was stopped through
// `stop`: being stopped means the decoder has given up, whose failure is the
// one to report. Throws nothing, so that it can be a thread's whole work.
int compressInto(const QImage &view, ByteChannel &channel, std::stop_token stop) noexcept
{
    int failure = JERR_OUT_OF_MEMORY;
    try {
        std::vector<JSAMPLE> rgbRow(static_cast<std::size_t>(view.width()) * 3);
        ChannelDestination destination(channel, std::move(stop));
        Compression c;
        if (runCompression(c, view, destination, rgbRow.data()))
            failure = 0;
        else
            failure = destination.stopped ? 0 : c.fatal.manager.msg_code;
    } catch (const std::bad_alloc &) {
    }
    channel.close(failure != 0);
    return failure;
}

// ---- decompression -----------------------------------------------------

struct Decompression {
    FatalExit fatal;
    jpeg_decompress_struct info{};

    Decompression() { info.err = &fatal.manager; }
    ~Decompression() { jpeg_destroy_decompress(&info); }
    Decompression(const Decompression &) = delete;
    Decompression &operator=(const Decompression &) = delete;
};

// Reads the header, sets the print parameters and runs the quantiser's first
// pass, which chooses the colour map for this picture.
bool startDecoding(Decompression &d, ChannelSource &source)
{
    if (setjmp(d.fatal.jump))
        return false;
    jpeg_create_decompress(&d.info);
    d.info.src = &source;
    jpeg_read_header(&d.info, TRUE);
    d.info.scale_num = 1;
    d.info.scale_denom = 1;
    d.info.do_block_smoothing = TRUE;
    d.info.quantize_colors = TRUE;
    d.info.desired_number_of_colors = kPrintColours;
    jpeg_start_decompress(&d.info);
    return true;
}

bool readDecodedRows(Decompression &d, unsigned char *bits, qsizetype bytesPerLine)
{
    if (setjmp(d.fatal.jump))
        return false;
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = bits + static_cast<qsizetype>(d.info.output_scanline) * bytesPerLine;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    jpeg_finish_decompress(&d.info);
    return true;
}

// The decoded picture with the decoder's colour map as its colour table;
// `failure` gets the message code of a fatal error, 0 otherwise.
QImage decodeFrom(ByteChannel &channel, int &failure)
{
    failure = 0;
    ChannelSource source(channel);
    Decompression d;
    if (!startDecoding(d, source)) {
        failure = d.fatal.manager.msg_code;
        return QImage();
    }
    QImage result(static_cast<int>(d.info.output_width), static_cast<int>(d.info.output_height),
                  QImage::Format_Indexed8);
    if (result.isNull())
        throw std::bad_alloc();
    QList<QRgb> table;
    table.reserve(d.info.actual_number_of_colors);
    for (int i = 0; i < d.info.actual_number_of_colors; ++i)
        table.append(qRgb(d.info.colormap[0][i], d.info.colormap[1][i], d.info.colormap[2][i]));
    result.setColorTable(table);
    if (!readDecodedRows(d, result.bits(), result.bytesPerLine())) {
        failure = d.fatal.manager.msg_code;
        return QImage();
    }
    return result;
}

} // namespace

std::vector<std::uint8_t> compressView(const QImage &view)
{
    checkView(view);
    ByteChannel channel;
    if (const int failure = compressInto(view, channel, {}))
        throwJpegError(failure);
    std::vector<std::uint8_t> jpeg;
    for (ByteChannel::Chunk chunk; channel.pop(chunk);)
        jpeg.insert(jpeg.end(), chunk.begin(), chunk.end());
    return jpeg;
}

QImage decodeToPrintColours(const std::uint8_t *jpeg, std::size_t size)
{
    ByteChannel channel;
    channel.push(ByteChannel::Chunk(jpeg, jpeg + size));
    channel.close(false);
    int failure = 0;
    QImage result = decodeFrom(channel, failure);
    if (failure != 0)
        throwJpegError(failure);
    return result;
}

QImage ReJigPallete(const QImage &view)
{
    checkView(view);
    ByteChannel channel;
    int compressorFailure = 0;
    int decoderFailure = 0;
    QImage result;
    {
        std::jthread compressor;
        try {
            compressor = std::jthread(
                [&](std::stop_token stop) { compressorFailure = compressInto(view, channel, std::move(stop)); });
        } catch (const std::system_error &) {
            // No room for the compressor's thread (its stack is mapped up
            // front): the halves one after the other need no second thread.
            compressorFailure = compressInto(view, channel, {});
        }
        result = decodeFrom(channel, decoderFailure);
        // Leaving this scope, on every path, stops a compressor that is still
        // writing (the decoder gave up) at its next chunk and joins it.
    }
    // A compressor failure starves the decoder; its code is the real cause.
    if (compressorFailure != 0)
        throwJpegError(compressorFailure);
    if (decoderFailure != 0)
        throwJpegError(decoderFailure);
    return result;
}

} // namespace terralume::print
