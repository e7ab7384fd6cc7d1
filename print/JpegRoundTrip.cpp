#include "JpegRoundTrip.h"

#include "Colouring.h"
#include "PrintError.h"

#include <QList>

#include <condition_variable>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE declared first
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include <jerror.h>
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

[[noreturn]] void fail(j_common_ptr info, int code)
{
    info->err->msg_code = code;
    info->err->error_exit(info);
    std::abort(); // error_exit does not return
}

// Memory running short is no fault of the picture: it fails the way every
// other allocation of the program does, and the user is told so in words.
[[noreturn]] void throwJpegError(int code)
{
    if (code == JERR_OUT_OF_MEMORY)
        throw std::bad_alloc();
    throw PrintError("JPEG error #" + std::to_string(code));
}

// ---- the compressed bytes between two threads ------------------------------

// The compressor runs on a thread of its own and hands its output over in
// chunks while the decoder, on the calling thread, already reads them: the
// two halves of the round trip overlap instead of following each other.
class ByteChannel {
public:
    using Chunk = std::vector<JOCTET>;

    void push(Chunk &&chunk)
    {
        std::lock_guard lock(mutex);
        chunks.push_back(std::move(chunk));
        ready.notify_one();
    }
    // `failed` when the compressor stopped on a fatal error.
    void close(bool failed)
    {
        std::lock_guard lock(mutex);
        closed = true;
        broken = failed;
        ready.notify_one();
    }
    // Blocks until a chunk comes; false once all are read or on failure.
    bool pop(Chunk &chunk)
    {
        std::unique_lock lock(mutex);
        ready.wait(lock, [this] { return !chunks.empty() || closed; });
        if (chunks.empty() || broken)
            return false;
        chunk = std::move(chunks.front());
        chunks.pop_front();
        return true;
    }
    // The decoder gave up: the compressor stops at its next chunk. Once the
    // compressor has closed the channel there is nothing left to stop.
    void cancel()
    {
        std::lock_guard lock(mutex);
        cancelled = !closed;
    }
    bool isCancelled()
    {
        std::lock_guard lock(mutex);
        return cancelled;
    }

private:
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Chunk> chunks;
    bool closed = false;
    bool broken = false;
    bool cancelled = false;
};

constexpr std::size_t kChunkBytes = 64 * 1024;

struct ChannelDestination {
    jpeg_destination_mgr pub{};
    ByteChannel *channel = nullptr;
    ByteChannel::Chunk buffer;
};

// The library's callbacks must not throw: an allocation failure becomes the
// library's own out-of-memory error, raised outside the catch block.
void newChunk(j_compress_ptr info)
{
    auto *dest = reinterpret_cast<ChannelDestination *>(info->dest);
    bool allocated = true;
    try {
        dest->buffer.assign(kChunkBytes, 0);
    } catch (...) {
        allocated = false;
    }
    if (!allocated)
        fail(reinterpret_cast<j_common_ptr>(info), JERR_OUT_OF_MEMORY);
    dest->pub.next_output_byte = dest->buffer.data();
    dest->pub.free_in_buffer = dest->buffer.size();
}

void initChannelDestination(j_compress_ptr info)
{
    newChunk(info);
}

boolean emptyChannelDestination(j_compress_ptr info)
{
    auto *dest = reinterpret_cast<ChannelDestination *>(info->dest);
    if (dest->channel->isCancelled())
        fail(reinterpret_cast<j_common_ptr>(info), JERR_FILE_WRITE);
    dest->channel->push(std::move(dest->buffer)); // the whole buffer, as the library asks
    dest->buffer = ByteChannel::Chunk();
    newChunk(info);
    return TRUE;
}

void termChannelDestination(j_compress_ptr info)
{
    auto *dest = reinterpret_cast<ChannelDestination *>(info->dest);
    dest->buffer.resize(dest->buffer.size() - dest->pub.free_in_buffer);
    dest->channel->push(std::move(dest->buffer));
}

struct ChannelSource {
    jpeg_source_mgr pub{};
    ByteChannel *channel = nullptr;
    ByteChannel::Chunk current;
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initChannelSource(j_decompress_ptr) {}
void termChannelSource(j_decompress_ptr) {}

boolean fillChannelSource(j_decompress_ptr info)
{
    auto *src = reinterpret_cast<ChannelSource *>(info->src);
    bool more = false;
    try {
        more = src->channel->pop(src->current);
    } catch (...) {
        more = false;
    }
    if (!more || src->current.empty()) {
        // Out of data: like the memory source, end the image with a warning.
        WARNMS(info, JWRN_JPEG_EOF);
        src->pub.next_input_byte = kEndOfImage;
        src->pub.bytes_in_buffer = 2;
        return TRUE;
    }
    src->pub.next_input_byte = src->current.data();
    src->pub.bytes_in_buffer = src->current.size();
    return TRUE;
}

void skipChannelSource(j_decompress_ptr info, long count)
{
    auto *src = reinterpret_cast<ChannelSource *>(info->src);
    while (count > 0 && static_cast<std::size_t>(count) > src->pub.bytes_in_buffer) {
        count -= static_cast<long>(src->pub.bytes_in_buffer);
        fillChannelSource(info);
    }
    if (count > 0) {
        src->pub.next_input_byte += count;
        src->pub.bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

// ---- compression -------------------------------------------------------

struct Compression {
    FatalExit fatal;
    jpeg_compress_struct info{};
    const QImage *view = nullptr;
    JSAMPLE *rgbRow = nullptr; // one widened scanline, reused for every row
    ChannelDestination *channel = nullptr; // or else into `data`
    unsigned char *data = nullptr;
    unsigned long size = 0;

    Compression() { installFatalExit(fatal); info.err = &fatal.manager; }
    ~Compression()
    {
        // After a fatal error the memory destination may have moved to a
        // bigger block without telling us; its terminator hands over the
        // current one so that it can be freed with the rest.
        if (channel == nullptr && info.dest != nullptr && data == nullptr)
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
    if (c->channel != nullptr) {
        c->channel->pub.init_destination = initChannelDestination;
        c->channel->pub.empty_output_buffer = emptyChannelDestination;
        c->channel->pub.term_destination = termChannelDestination;
        c->info.dest = &c->channel->pub;
    } else {
        jpeg_mem_dest(&c->info, &c->data, &c->size);
        // Until the terminator runs, `data` belongs to the destination.
        c->data = nullptr;
        c->size = 0;
    }
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

void checkView(const QImage &view)
{
    if (view.format() != QImage::Format_RGB16)
        throw PrintError("The picture to print is not a 5-6-5 picture");
}

// ---- decompression -----------------------------------------------------

struct Decompression {
    FatalExit fatal;
    jpeg_decompress_struct info{};
    ChannelSource *channel = nullptr; // or else from `jpeg`
    const std::uint8_t *jpeg = nullptr;
    std::size_t size = 0;

    Decompression() { installFatalExit(fatal); info.err = &fatal.manager; }
    ~Decompression() { jpeg_destroy_decompress(&info); }
    Decompression(const Decompression &) = delete;
    Decompression &operator=(const Decompression &) = delete;
};

// Reads the header, sets the print parameters and runs the quantiser's first
// pass, which chooses the colour map for this picture.
bool startDecoding(Decompression *d)
{
    if (setjmp(d->fatal.jump))
        return false;
    jpeg_create_decompress(&d->info);
    if (d->channel != nullptr) {
        d->channel->pub.init_source = initChannelSource;
        d->channel->pub.fill_input_buffer = fillChannelSource;
        d->channel->pub.skip_input_data = skipChannelSource;
        d->channel->pub.resync_to_restart = jpeg_resync_to_restart;
        d->channel->pub.term_source = termChannelSource;
        d->info.src = &d->channel->pub;
    } else {
        jpeg_mem_src(&d->info, d->jpeg, static_cast<unsigned long>(d->size));
    }
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

// The decoded picture with the decoder's colour map as its colour table;
// `jpegFailure` gets the message code of a fatal error, 0 otherwise.
QImage decode(Decompression &d, int &jpegFailure)
{
    jpegFailure = 0;
    if (!startDecoding(&d)) {
        jpegFailure = d.fatal.manager.msg_code;
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
    if (!readDecodedRows(&d, result.bits(), result.bytesPerLine())) {
        jpegFailure = d.fatal.manager.msg_code;
        return QImage();
    }
    return result;
}

struct CompressorUnavailable {};

// The compressing thread; joined on every path out of ReJigPallete.
class Compressor {
public:
    Compressor(const QImage &view, ByteChannel &channel)
        : rgbRow(static_cast<std::size_t>(view.width()) * 3), channel(channel)
    {
        destination.channel = &channel;
        job.view = &view;
        job.rgbRow = rgbRow.data();
        job.channel = &destination;
        try {
            worker = std::thread([this] {
                const bool done = runCompression(&job);
                failure = done ? 0 : job.fatal.manager.msg_code;
                this->channel.close(!done);
            });
        } catch (const std::system_error &) {
            throw CompressorUnavailable();
        }
    }
    ~Compressor() { finish(); }
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;

    // Waits for the thread; its fatal error's code, or 0 when it finished or
    // was only stopped because the decoder had failed already.
    int finish()
    {
        if (worker.joinable()) {
            channel.cancel(); // a no-op when it has finished already
            worker.join();
        }
        return channel.isCancelled() ? 0 : failure;
    }

private:
    std::vector<JSAMPLE> rgbRow;
    ByteChannel &channel;
    ChannelDestination destination;
    Compression job;
    int failure = 0;
    std::thread worker;
};

QImage streamedRoundTrip(const QImage &view);

} // namespace

std::vector<std::uint8_t> compressView(const QImage &view)
{
    checkView(view);
    std::vector<JSAMPLE> rgbRow(static_cast<std::size_t>(view.width()) * 3);
    Compression c;
    c.view = &view;
    c.rgbRow = rgbRow.data();
    if (!runCompression(&c))
        throwJpegError(c.fatal.manager.msg_code);
    return std::vector<std::uint8_t>(c.data, c.data + c.size);
}

QImage decodeToPrintColours(const std::uint8_t *jpeg, std::size_t size)
{
    Decompression d;
    d.jpeg = jpeg;
    d.size = size;
    int failure = 0;
    QImage result = decode(d, failure);
    if (failure != 0)
        throwJpegError(failure);
    return result;
}

QImage ReJigPallete(const QImage &view)
{
    checkView(view);
    try {
        return streamedRoundTrip(view);
    } catch (const CompressorUnavailable &) {
        // No room for the compressor's thread (its stack is mapped up front):
        // the two halves one after the other need no second thread.
        const std::vector<std::uint8_t> jpeg = compressView(view);
        return decodeToPrintColours(jpeg.data(), jpeg.size());
    }
}

namespace {

QImage streamedRoundTrip(const QImage &view)
{
    ByteChannel channel;
    ChannelSource source;
    source.channel = &channel;
    QImage result;
    int decoderFailure = 0;
    int compressorFailure = 0;
    {
        Compressor compressor(view, channel);
        Decompression d;
        d.channel = &source;
        result = decode(d, decoderFailure);
        compressorFailure = compressor.finish();
    }
    // A compressor failure starves the decoder; its code is the real cause.
    if (compressorFailure != 0)
        throwJpegError(compressorFailure);
    if (decoderFailure != 0)
        throwJpegError(decoderFailure);
    return result;
}

} // namespace

} // namespace terralume::print
