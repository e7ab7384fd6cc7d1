#include "JpegRoundTrip.h"

#include "Colouring.h"
#include "JpegChannel.h"
#include "PrintColours.h"
#include "PrintError.h"
#include "WorkerThreads.h"

#include <QList>

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <mutex>
#include <new>
#include <string>
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

// The decoded rows as 24-bit RGB, exactly as the library's own two-pass
// quantiser sees them: the quantiser is ours, the decoding stays the
// library's. Each call that can fail returns false and leaves the message
// code in failure().
class RowDecoder {
public:
    RowDecoder(ByteChannel &channel, std::vector<ByteChannel::Chunk> *kept) : source_(channel, kept) {}

    bool start()
    {
        if (setjmp(d_.fatal.jump))
            return false;
        jpeg_create_decompress(&d_.info);
        d_.info.src = &source_;
        jpeg_read_header(&d_.info, TRUE);
        d_.info.scale_num = 1;
        d_.info.scale_denom = 1;
        d_.info.do_block_smoothing = TRUE;
        d_.info.out_color_space = JCS_RGB;
        d_.info.quantize_colors = FALSE;
        jpeg_start_decompress(&d_.info);
        return true;
    }

    int width() const { return static_cast<int>(d_.info.output_width); }
    int height() const { return static_cast<int>(d_.info.output_height); }
    int rowsLeft() const { return static_cast<int>(d_.info.output_height - d_.info.output_scanline); }

    // Decodes the next min(count, rowsLeft()) rows into `rows`, one after the
    // other; `count` is at most kBatchRows.
    bool read(JSAMPLE *rows, int count)
    {
        if (setjmp(d_.fatal.jump))
            return false;
        const std::size_t stride = static_cast<std::size_t>(d_.info.output_width) * 3;
        const JDIMENSION end =
            std::min(d_.info.output_height, d_.info.output_scanline + static_cast<JDIMENSION>(count));
        JSAMPROW pointers[kBatchRows];
        for (int i = 0; i < count; ++i)
            pointers[i] = rows + static_cast<std::size_t>(i) * stride;
        JSAMPROW *next = pointers;
        while (d_.info.output_scanline < end) {
            const JDIMENSION got = jpeg_read_scanlines(&d_.info, next, end - d_.info.output_scanline);
            next += got;
        }
        return true;
    }

    bool finish()
    {
        if (setjmp(d_.fatal.jump))
            return false;
        jpeg_finish_decompress(&d_.info);
        return true;
    }

    int failure() const { return d_.fatal.manager.msg_code; }
    ChannelSource &source() { return source_; }

    static constexpr int kBatchRows = 16;

private:
    ChannelSource source_;
    Decompression d_;
};

// What the first pass leaves for the second: the pixel counts, and the
// compressed stream to be decoded again.
struct FirstPass {
    ColourHistogram histogram;
    std::vector<ByteChannel::Chunk> stream;
    int width = 0;
    int height = 0;
};

// Decodes the stream from `channel` once, counting the colours and keeping
// the stream. Returns the message code of a fatal error, 0 otherwise.
int countColours(ByteChannel &channel, FirstPass &pass)
{
    RowDecoder decoder(channel, &pass.stream);
    if (!decoder.start())
        return decoder.failure();
    pass.width = decoder.width();
    pass.height = decoder.height();
    std::vector<JSAMPLE> rows(static_cast<std::size_t>(pass.width) * 3 * RowDecoder::kBatchRows);
    while (decoder.rowsLeft() > 0) {
        const int count = std::min(decoder.rowsLeft(), RowDecoder::kBatchRows);
        if (!decoder.read(rows.data(), count))
            return decoder.failure();
        pass.histogram.add(rows.data(), static_cast<std::size_t>(pass.width) * static_cast<std::size_t>(count));
    }
    if (!decoder.finish())
        return decoder.failure();
    decoder.source().keepCurrent();
    return 0;
}

// Decoded rows on their way from the second pass's decoder, on a thread of
// its own, to the dithering: a ring of whole batches, so that the decoder
// runs ahead by a few batches and no further.
class RowRing {
public:
    static constexpr int kBatches = 4;

    explicit RowRing(int width)
        : stride_(static_cast<std::size_t>(width) * 3), rows_(stride_ * RowDecoder::kBatchRows * kBatches)
    {
    }

    // For the decoder: where the next batch goes, once there is room for it;
    // nullptr once the reader has given up.
    JSAMPLE *nextBatch()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return cancelled_ || written_ - read_ < kBatches; });
        return cancelled_ ? nullptr : batch(written_);
    }

    void written(int rows)
    {
        std::lock_guard lock(mutex_);
        ++written_;
        lastRows_ = rows;
        changed_.notify_all();
    }

    void end(int failure)
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        failure_ = failure;
        changed_.notify_all();
    }

    // For the reader: the next batch and its row count, or nullptr once the
    // decoder has ended (`failure` then tells why, 0 when it finished).
    const JSAMPLE *readBatch(int &rows, int &failure)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ended_ || written_ > read_; });
        failure = failure_;
        if (written_ == read_)
            return nullptr;
        rows = written_ == read_ + 1 ? lastRows_ : RowDecoder::kBatchRows;
        return batch(read_);
    }

    void done()
    {
        std::lock_guard lock(mutex_);
        ++read_;
        changed_.notify_all();
    }

    void cancel()
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        changed_.notify_all();
    }

    std::size_t stride() const { return stride_; }

private:
    JSAMPLE *batch(long index)
    {
        return rows_.data() + stride_ * RowDecoder::kBatchRows * std::size_t(index % kBatches);
    }

    std::size_t stride_;
    std::vector<JSAMPLE> rows_;
    std::mutex mutex_;
    std::condition_variable changed_;
    long written_ = 0;
    long read_ = 0;
    int lastRows_ = 0;
    bool ended_ = false;
    bool cancelled_ = false;
    int failure_ = 0;
};

// The second pass's decoding into `ring`; throws nothing, so that it can be
// a thread's whole work.
void decodeInto(RowDecoder &decoder, RowRing &ring) noexcept
{
    while (decoder.rowsLeft() > 0) {
        JSAMPLE *rows = ring.nextBatch();
        if (rows == nullptr) {
            ring.end(0);
            return;
        }
        const int count = std::min(decoder.rowsLeft(), RowDecoder::kBatchRows);
        if (!decoder.read(rows, count)) {
            ring.end(decoder.failure());
            return;
        }
        ring.written(count);
    }
    ring.end(decoder.finish() ? 0 : decoder.failure());
}

// Stops the second pass's decoder on every way out of the dithering, before
// its thread is joined.
struct CancelOnExit {
    RowRing &ring;
    ~CancelOnExit() { ring.cancel(); }
};

// The second pass: the kept stream decoded again and dithered onto the
// palette, the decoding on a second thread where there is one.
QImage mapToPalette(FirstPass &pass, const Palette &palette, Threads threads)
{
    ByteChannel channel;
    for (ByteChannel::Chunk &chunk : pass.stream)
        channel.push(std::move(chunk));
    channel.close(false);
    pass.stream.clear();
    pass.stream.shrink_to_fit();

    RowDecoder decoder(channel, nullptr);
    if (!decoder.start())
        throwJpegError(decoder.failure());
    QImage result(decoder.width(), decoder.height(), QImage::Format_Indexed8);
    if (result.isNull())
        throw std::bad_alloc();
    QList<QRgb> table;
    table.reserve(palette.size);
    for (int i = 0; i < palette.size; ++i) {
        const auto &c = palette.colours[static_cast<std::size_t>(i)];
        table.append(qRgb(c[0], c[1], c[2]));
    }
    result.setColorTable(table);

    RowRing ring(decoder.width());
    int failure = 0;
    {
        // Without a second thread the decoding runs batch by batch below.
        std::jthread decoding;
        if (threads == Threads::Available)
            decoding = startThread([&](std::stop_token) { decodeInto(decoder, ring); });
        const CancelOnExit cancel{ring};
        FloydSteinberg dither(palette, decoder.width());
        int y = 0;
        for (;;) {
            if (!decoding.joinable() && decoder.rowsLeft() > 0) {
                JSAMPLE *rows = ring.nextBatch();
                const int count = std::min(decoder.rowsLeft(), RowDecoder::kBatchRows);
                if (!decoder.read(rows, count)) {
                    failure = decoder.failure();
                    break;
                }
                ring.written(count);
            } else if (!decoding.joinable()) {
                ring.end(decoder.finish() ? 0 : decoder.failure());
            }
            int count = 0;
            const JSAMPLE *rows = ring.readBatch(count, failure);
            if (rows == nullptr)
                break;
            for (int i = 0; i < count; ++i, ++y)
                dither.mapRow(rows + ring.stride() * static_cast<std::size_t>(i), result.scanLine(y));
            ring.done();
        }
    }
    if (failure != 0)
        throwJpegError(failure);
    return result;
}

// The counted picture mapped onto its at most kPrintColours colours.
QImage decodeCounted(FirstPass &pass, Threads threads)
{
    const Palette palette = choosePalette(pass.histogram, kPrintColours);
    return mapToPalette(pass, palette, threads);
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
    FirstPass pass;
    if (const int failure = countColours(channel, pass))
        throwJpegError(failure);
    return decodeCounted(pass, Threads::Available);
}

QImage ReJigPallete(const QImage &view) { return ReJigPallete(view, Threads::Available); }

QImage ReJigPallete(const QImage &view, Threads threads)
{
    checkView(view);
    ByteChannel channel;
    int compressorFailure = 0;
    int decoderFailure = 0;
    FirstPass pass;
    {
        // Without a thread for the compressor the halves run one after the other.
        std::jthread compressor;
        if (threads == Threads::Available)
            compressor = startThread(
                [&](std::stop_token stop) { compressorFailure = compressInto(view, channel, std::move(stop)); });
        if (!compressor.joinable())
            compressorFailure = compressInto(view, channel, {});
        decoderFailure = countColours(channel, pass);
        // Leaving this scope, on every path, stops a compressor that is still
        // writing (the decoder gave up) at its next chunk and joins it.
    }
    // A compressor failure starves the decoder; its code is the real cause.
    if (compressorFailure != 0)
        throwJpegError(compressorFailure);
    if (decoderFailure != 0)
        throwJpegError(decoderFailure);
    return decodeCounted(pass, threads);
}

} // namespace terralume::print
