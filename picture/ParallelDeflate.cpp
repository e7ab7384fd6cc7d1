#include "ParallelDeflate.h"

#include "WorkerThreads.h"

#include <zlib.h>

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

namespace terralume {

namespace {

constexpr qsizetype kWindow = 32768;
// The input of one run: small enough that the runs share out evenly over
// the cores, large enough that the cuts cost nothing to speak of.
constexpr qsizetype kRunBytes = qsizetype{1} << 20;
// Rows are made and deflated this many bytes at a time.
constexpr qsizetype kBatchBytes = qsizetype{1} << 16;

struct Piece {
    QByteArray bytes;
    uLong adler = 1; // of the run's input
    qsizetype inputSize = 0;
    bool whole = false;
};

class Deflater {
public:
    explicit Deflater(int level)
    {
        // Raw deflate: the pieces share the one zlib header written around them.
        if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::bad_alloc();
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    void prime(const std::uint8_t *window, qsizetype size) { deflateSetDictionary(&stream_, window, uInt(size)); }

    // Deflates `size` bytes into `out` (grown as needed) with `flush`.
    void run(const std::uint8_t *input, qsizetype size, int flush, QByteArray &out, qsizetype &used)
    {
        stream_.next_in = const_cast<Bytef *>(input);
        stream_.avail_in = uInt(size);
        for (;;) {
            if (out.size() - used < 1024)
                out.resize(std::max<qsizetype>(2 * out.size(), used + 65536));
            stream_.next_out = reinterpret_cast<Bytef *>(out.data() + used);
            stream_.avail_out = uInt(std::min<qsizetype>(out.size() - used, 1 << 30));
            const uInt room = stream_.avail_out;
            const int result = deflate(&stream_, flush);
            used += room - stream_.avail_out;
            if (result == Z_STREAM_END)
                return;
            if (result != Z_OK && result != Z_BUF_ERROR)
                throw std::bad_alloc();
            // Done once the input is taken and, when flushing, zlib had
            // room to spare: it has nothing more to give.
            if (stream_.avail_in == 0 && stream_.avail_out != 0 && flush != Z_FINISH)
                return;
        }
    }

private:
    z_stream stream_{};
};

void deflateRun(int first, int end, bool last, qsizetype rowBytes, const RowSource &source, int level, Piece &piece)
{
    Deflater deflater(level);
    const int batchRows = int(std::max<qsizetype>(1, kBatchBytes / rowBytes));
    std::vector<std::uint8_t> buffer(std::size_t(batchRows * rowBytes));
    if (first > 0) {
        // The window the run would have had in one long stream.
        const int windowRows = int(std::min<qsizetype>(first, (kWindow + rowBytes - 1) / rowBytes));
        std::vector<std::uint8_t> window(std::size_t(windowRows * rowBytes));
        for (int k = 0; k < windowRows; ++k)
            source(first - windowRows + k, window.data() + k * rowBytes);
        const qsizetype size = std::min<qsizetype>(qsizetype(window.size()), kWindow);
        deflater.prime(window.data() + window.size() - size, size);
    }
    qsizetype used = 0;
    // A guess at the size that saves most of the growing.
    piece.bytes.resize(std::max<qsizetype>(65536, (end - first) * rowBytes / 8));
    for (int y = first; y < end; y += batchRows) {
        const int rows = std::min(batchRows, end - y);
        for (int k = 0; k < rows; ++k)
            source(y + k, buffer.data() + k * rowBytes);
        const qsizetype size = rows * rowBytes;
        piece.adler = adler32_z(piece.adler, buffer.data(), std::size_t(size));
        deflater.run(buffer.data(), size, Z_NO_FLUSH, piece.bytes, used);
    }
    // A sync flush ends the piece on a byte boundary without ending the
    // stream, so the next piece follows it as more blocks of the same one.
    deflater.run(nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH, piece.bytes, used);
    piece.bytes.resize(used);
    piece.inputSize = (end - first) * rowBytes;
    piece.whole = true;
}

} // namespace

QByteArray deflateRows(int rowCount, qsizetype rowBytes, const RowSource &source, int level)
{
    rowCount = std::max(0, rowCount);
    // The cuts fall by the input alone, never by the number of cores, so a
    // picture makes the same file on every machine.
    const int rowsPerRun =
        int(std::clamp<qsizetype>(kRunBytes / std::max<qsizetype>(1, rowBytes), 1, std::max(1, rowCount)));
    const int runs = std::max(1, (rowCount + rowsPerRun - 1) / rowsPerRun);
    const auto first = [&](int run) { return std::min(rowCount, run * rowsPerRun); };

    std::vector<Piece> pieces(static_cast<std::size_t>(runs));
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int run = next++; run < runs; run = next++) {
            try {
                deflateRun(first(run), first(run + 1), run == runs - 1, rowBytes, source, level,
                           pieces[std::size_t(run)]);
            } catch (const std::bad_alloc &) {
                // Found unwhole below.
            }
        }
    };
    runSideBySide(std::min(unsigned(runs), usableCores()), [&](unsigned) { work(); });

    qsizetype size = 2 + 4;
    uLong adler = 1;
    for (const Piece &piece : pieces) {
        if (!piece.whole)
            throw std::bad_alloc();
        size += piece.bytes.size();
        adler = adler32_combine(adler, piece.adler, z_off_t(piece.inputSize));
    }
    QByteArray stream;
    stream.reserve(size);
    // Deflate with a 32 KiB window; the level's mark is only a hint.
    const char mark = level <= 1 ? '\x01' : level <= 5 ? '\x5e' : level == 6 ? '\x9c' : '\xda';
    stream.append('\x78').append(mark);
    for (Piece &piece : pieces) {
        stream.append(piece.bytes);
        piece.bytes = QByteArray();
    }
    char check[4];
    qToBigEndian<quint32>(quint32(adler), check);
    stream.append(check, 4);
    return stream;
}

} // namespace terralume
