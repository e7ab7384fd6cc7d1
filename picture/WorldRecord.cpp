#include "WorldRecord.h"

#include "SeededRandom.h"
#include "TerralumeVersion.h"
#include "ViewPng.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>

#include <zlib.h>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace terralume {

namespace {

// "Title" and "Software" are keywords the PNG standard defines; the others
// are the program's own, named so a reader of the chunks knows whose they are.
// No key holds a blank: Qt reads a key with one as free description text.
// The chunks are read here rather than through QImageReader, which
// simplifies every value's blanks, and a seed " 7" or a title "  Isles"
// must come back exactly as typed.
const QString kSizeKey = QStringLiteral("TerralumeSize");
const QString kSeedKey = QStringLiteral("TerralumeSeed");
const QString kSeedNumberKey = QStringLiteral("TerralumeSeedNumber");
const QString kWaterKey = QStringLiteral("TerralumeWater");
const QString kHeatKey = QStringLiteral("TerralumeHeat");
const QString kTitleKey = QStringLiteral("Title");
const QString kSoftwareKey = QStringLiteral("Software");

constexpr int kDotsPerMetre = 3780;

std::uint32_t seedNumber(const QString &seedText)
{
    SeededRandom random;
    random.LoadSeed(seedText.toStdString());
    return random.seedWord();
}

// A number as the writer writes it: decimal digits, a '-' at most before
// them. The record's length caps keep it far from any overflow.
std::optional<qint64> plainNumber(const QString &text)
{
    const qsizetype digitsFrom = text.startsWith(u'-') ? 1 : 0;
    if (text.size() == digitsFrom)
        return std::nullopt;
    for (qsizetype k = digitsFrom; k < text.size(); ++k)
        if (text[k] < u'0' || text[k] > u'9')
            return std::nullopt;
    return text.toLongLong();
}

std::optional<int> level(const QString &text)
{
    const auto value = plainNumber(text);
    if (!value || *value < -kLevelLimit || *value > kLevelLimit)
        return std::nullopt;
    return int(*value);
}

// What a record may hold under each of its keys, in bytes as the chunk
// keeps them. Text under other keys is never unpacked.
struct RecordKey {
    const QString *key;
    const char *what;
    qsizetype limit;
};
const RecordKey kRecordKeys[] = {
    {&kTitleKey, "title", kRecordTitleLimit}, {&kSizeKey, "size", 16},         {&kSeedKey, "seed", 64},
    {&kSeedNumberKey, "seed number", 16},     {&kWaterKey, "water level", 16}, {&kHeatKey, "heat level", 16},
};

const RecordKey *recordKey(QByteArrayView keyword)
{
    for (const RecordKey &key : kRecordKeys)
        if (QLatin1StringView(keyword) == *key.key)
            return &key;
    return nullptr;
}

// The longest keyword with its NUL, and room for an iTXt's flags, language
// and translated keyword beside a record's text.
constexpr qint64 kKeywordRoom = 80;
constexpr qint64 kTextRoom = 1024;
// No chunk of a map picture other than its pixel data comes near this; a
// longer one is refused unread, so that a huge file of nothing is not
// walked through.
constexpr quint32 kOtherChunkLimit = 64 * 1024 * 1024;
// The largest map picture holds under a tenth of this.
constexpr quint64 kPixelDataLimit = quint64(1) << 30;
constexpr qint64 kPiece = 64 * 1024;

class Refusal {
public:
    explicit Refusal(std::string name) : name_(std::move(name)) {}
    RecordError operator()(const std::string &what) const { return RecordError("'" + name_ + "' " + what); }
    RecordError damaged(const std::string &why) const { return (*this)("is a damaged PNG picture: " + why); }
    RecordError tooLong(const RecordKey &key) const
    {
        return (*this)("records a " + std::string(key.what) + " longer than " + std::to_string(key.limit) +
                       " bytes, the most a record holds");
    }

private:
    std::string name_;
};

enum class Unpacked { Whole, TooLong, Damaged };

// Inflates `deflated` into `text`, stopping as soon as the output passes
// `limit`: a small chunk can stand for gigabytes.
Unpacked inflateCapped(QByteArrayView deflated, qsizetype limit, QByteArray &text)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        throw std::bad_alloc();
    text.resize(limit + 1);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(deflated.data()));
    stream.avail_in = uInt(deflated.size());
    stream.next_out = reinterpret_cast<Bytef *>(text.data());
    stream.avail_out = uInt(text.size());
    const int result = inflate(&stream, Z_FINISH);
    const qsizetype produced = qsizetype(stream.total_out);
    inflateEnd(&stream);
    if (produced > limit)
        return Unpacked::TooLong;
    text.resize(produced);
    // Bytes after the end of the compressed text are as broken as a stream
    // that stops short.
    return result == Z_STREAM_END && stream.avail_in == 0 ? Unpacked::Whole : Unpacked::Damaged;
}

// The text of one of the record's tEXt, zTXt or iTXt chunks, from the data
// after its keyword's NUL; cut at its first NUL, as every other reader and
// writer of PNG text cuts it.
QString chunkText(const QByteArray &type, QByteArrayView data, const RecordKey &key, const Refusal &refuse)
{
    bool compressed = type == "zTXt";
    bool utf8 = false;
    if (type == "iTXt") {
        // Compression flag and method, then language and translated keyword.
        const qsizetype language = data.size() >= 2 ? data.sliced(2).indexOf('\0') : -1;
        const qsizetype translated = language < 0 ? -1 : data.sliced(2 + language + 1).indexOf('\0');
        if (translated < 0 || uchar(data[0]) > 1 || (data[0] && data[1]))
            throw refuse.damaged("its text '" + key.key->toStdString() + "' is not valid");
        compressed = data[0] != 0;
        utf8 = true;
        data = data.sliced(2 + language + 1 + translated + 1);
    } else if (compressed) {
        if (data.isEmpty() || data[0] != 0)
            throw refuse.damaged("its text '" + key.key->toStdString() + "' is not valid");
        data = data.sliced(1);
    }
    QByteArray bytes;
    if (compressed) {
        switch (inflateCapped(data, key.limit, bytes)) {
        case Unpacked::Whole:
            break;
        case Unpacked::TooLong:
            throw refuse.tooLong(key);
        case Unpacked::Damaged:
            throw refuse.damaged("its compressed text '" + key.key->toStdString() + "' cannot be unpacked");
        }
    } else if (data.size() > key.limit) {
        throw refuse.tooLong(key);
    } else {
        bytes = data.toByteArray();
    }
    QString text = utf8 ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    // Latin-1 and mended UTF-8 may take more room as the UTF-8 of a title.
    if (text.toUtf8().size() > key.limit)
        throw refuse.tooLong(key);
    return text.left(text.indexOf(QChar(0)));
}

// The pixel data, inflated as it arrives into a buffer that is thrown away:
// only to know it is whole, the size the header gives, and nothing more.
class PixelData {
public:
    PixelData() : out_(kPiece)
    {
        if (inflateInit(&stream_) != Z_OK)
            throw std::bad_alloc();
    }
    ~PixelData() { inflateEnd(&stream_); }
    PixelData(const PixelData &) = delete;
    PixelData &operator=(const PixelData &) = delete;

    // The size of the filtered rows the header `ihdr` (its 13 bytes of data)
    // stands for; nothing when the header is not valid.
    static std::optional<quint64> expectedSize(QByteArrayView ihdr)
    {
        const quint32 width = qFromBigEndian<quint32>(ihdr.data());
        const quint32 height = qFromBigEndian<quint32>(ihdr.data() + 4);
        const int depth = uchar(ihdr[8]), colour = uchar(ihdr[9]), interlace = uchar(ihdr[12]);
        static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
        if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu || colour > 6 ||
            !kChannels[colour] || interlace > 1 || ihdr[10] || ihdr[11] ||
            (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16))
            return std::nullopt;
        const quint64 bits = quint64(kChannels[colour]) * quint64(depth);
        // Each row has its filter byte. Far below any overflow: the sides
        // are under 2^31 and a pixel has at most 64 bits.
        const auto rows = [&](quint64 across, quint64 down) {
            return across == 0 ? 0 : double(down) * double((across * bits + 7) / 8 + 1);
        };
        double size = 0;
        if (!interlace) {
            size = rows(width, height);
        } else {
            // Adam7's seven passes: first column and row, then the steps.
            static constexpr int kPass[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
            for (const auto &pass : kPass)
                size += rows((width + pass[2] - 1 - pass[0]) / pass[2], (height + pass[3] - 1 - pass[1]) / pass[3]);
        }
        return size > double(kPixelDataLimit) ? std::optional<quint64>(kPixelDataLimit + 1) : quint64(size);
    }

    void setExpected(quint64 size) { expected_ = size; }

    void feed(const char *bytes, qint64 count, const Refusal &refuse)
    {
        stream_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes));
        stream_.avail_in = uInt(count);
        while (stream_.avail_in > 0) {
            if (ended_)
                throw refuse.damaged("its pixel data goes on past its end");
            stream_.next_out = out_.data();
            stream_.avail_out = uInt(out_.size());
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                throw refuse.damaged("its pixel data cannot be unpacked");
            if (stream_.total_out > expected_)
                throw refuse.damaged("its pixel data is larger than its size says");
            ended_ = result == Z_STREAM_END;
        }
    }

    bool whole() const { return ended_ && stream_.total_out == expected_; }

private:
    z_stream stream_{};
    std::vector<Bytef> out_;
    quint64 expected_ = 0;
    bool ended_ = false;
};

bool isChunkType(QByteArrayView type)
{
    for (char c : type)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

// Reads exactly `count` bytes, or says why it cannot.
QByteArray readExactly(QIODevice &png, qint64 count, const Refusal &refuse)
{
    QByteArray bytes = png.read(count);
    if (bytes.size() == count)
        return bytes;
    if (const auto *file = qobject_cast<QFileDevice *>(&png); file && file->error() != QFileDevice::NoError)
        throw refuse("cannot be read: " + file->errorString().toStdString());
    throw refuse.damaged("it is cut off");
}

// The record's texts of a PNG, keyword to text. Every chunk up to IEND is
// checked whole (its checksum, and the pixel data unpacked), in pieces, so
// a file of any size costs a few pages of memory; the walk stops at the
// first chunk that cannot be one.
QHash<QString, QString> recordTexts(QIODevice &png, const Refusal &refuse)
{
    static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
    if (png.read(8) != QByteArrayView(kSignature, 8))
        throw refuse("is not a PNG picture");
    const qint64 fileSize = png.isSequential() ? -1 : png.size();
    QHash<QString, QString> texts;
    PixelData pixels;
    bool headed = false;
    bool pixelsSeen = false;
    for (;;) {
        const QByteArray header = readExactly(png, 8, refuse);
        const quint32 length = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.sliced(4);
        if (length > 0x7fffffffu || !isChunkType(type) || (type != "IDAT" && length > kOtherChunkLimit))
            throw refuse.damaged("it holds a chunk that is not valid");
        if (fileSize >= 0 && png.pos() + qint64(length) + 4 > fileSize)
            throw refuse.damaged("a chunk runs past the end of the file");
        if (!headed && type != "IHDR")
            throw refuse.damaged("it does not start with its header");

        uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type.constData()), 4);
        const auto take = [&](qint64 count) {
            const QByteArray bytes = readExactly(png, count, refuse);
            crc = crc32(crc, reinterpret_cast<const Bytef *>(bytes.constData()), uInt(bytes.size()));
            return bytes;
        };
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
        const RecordKey *key = nullptr;
        QByteArray data;
        if (type == "IHDR") {
            if (headed || length != 13)
                throw refuse.damaged("its header is not valid");
            data = take(length);
            const auto expected = PixelData::expectedSize(data);
            if (!expected)
                throw refuse.damaged("its header is not valid");
            if (*expected > kPixelDataLimit)
                throw refuse("is too large a picture to be a map");
            pixels.setExpected(*expected);
            headed = true;
        } else if (text) {
            data = take(qMin<qint64>(length, kKeywordRoom));
            const qsizetype keyEnd = data.indexOf('\0');
            key = keyEnd > 0 ? recordKey(QByteArrayView(data).first(keyEnd)) : nullptr;
            // The record's own text is kept whole when it may fit; all else
            // only runs through the checksum.
            if (key && length <= kKeywordRoom + kTextRoom + key->limit)
                data += take(length - data.size());
        }
        for (qint64 left = qint64(length) - data.size(); left > 0;) {
            const QByteArray piece = take(qMin(left, kPiece));
            if (type == "IDAT")
                pixels.feed(piece.constData(), piece.size(), refuse);
            left -= piece.size();
        }
        if (qFromBigEndian<quint32>(readExactly(png, 4, refuse).constData()) != quint32(crc))
            throw refuse.damaged("the checksum of a chunk '" + type.toStdString() + "' is wrong");
        if (type == "IDAT")
            pixelsSeen = true;
        if (type == "IEND")
            break;
        if (!key)
            continue;
        if (data.size() < qsizetype(length))
            throw refuse.tooLong(*key);
        const QString value = chunkText(type, QByteArrayView(data).sliced(data.indexOf('\0') + 1), *key, refuse);
        const auto known = texts.constFind(*key->key);
        if (known != texts.cend() && *known != value)
            throw refuse("records two different values for its " + std::string(key->what));
        texts.insert(*key->key, value);
    }
    if (!pixelsSeen || !pixels.whole())
        throw refuse.damaged("its pixel data is cut off");
    return texts;
}

WorldRecord readRecord(QIODevice &png, const std::string &name)
{
    const Refusal refuse(name);
    const QHash<QString, QString> texts = recordTexts(png, refuse);
    if (!texts.contains(kSizeKey) && !texts.contains(kSeedKey))
        throw refuse("records no world settings");
    const auto text = [&](const QString &key) { return texts.value(key); };

    const auto broken = [&](const char *what) { return refuse(std::string("records no valid ") + what); };
    WorldRecord record;
    record.size = text(kSizeKey);
    if (!knownBlockSize(record.size.toStdString()))
        throw broken("size");
    record.seedText = text(kSeedKey);
    const auto recordedNumber = plainNumber(text(kSeedNumberKey));
    // The number is checked against the text so that a record edited by
    // hand cannot make another world than the one the picture shows.
    try {
        if (record.seedText.size() > kSeedTextLimit || !recordedNumber || seedNumber(record.seedText) != recordedNumber)
            throw broken("seed");
    } catch (const ConvertError &) {
        throw broken("seed");
    }
    const auto water = level(text(kWaterKey));
    const auto heat = level(text(kHeatKey));
    if (!water)
        throw broken("water level");
    if (!heat)
        throw broken("heat level");
    record.water = *water;
    record.heat = *heat;
    record.title = text(kTitleKey);
    return record;
}

RecordError notAFile(const Refusal &refuse, const char *kind)
{
    return refuse(std::string("is ") + kind + ", not a regular file: the settings are read only from a picture file");
}

#ifdef Q_OS_UNIX
// What a name that is not a regular file stands for.
const char *kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "a special file";
}
#endif

} // namespace

QString recordedTitle(const QString &title)
{
    qsizetype bytes = 0;
    qsizetype kept = 0;
    // Whole code points only: a surrogate pair is one character, and a lone
    // surrogate is measured as the encoder writes it.
    while (kept < title.size()) {
        const char16_t unit = title[kept].unicode();
        const bool pair = QChar::isHighSurrogate(unit) && kept + 1 < title.size() && title[kept + 1].isLowSurrogate();
        const qsizetype units = pair ? 2 : 1;
        const qsizetype width = pair                        ? 4
                                : unit < 0x80               ? 1
                                : unit < 0x800              ? 2
                                : !QChar::isSurrogate(unit) ? 3
                                                            : QStringView(title).sliced(kept, 1).toUtf8().size();
        if (bytes + width > kRecordTitleLimit)
            break;
        bytes += width;
        kept += units;
    }
    return title.left(kept);
}

QByteArray encodeRecordedPng(const QImage &shown, const WorldRecord &record)
{
    std::uint32_t number = 0;
    try {
        number = seedNumber(record.seedText);
    } catch (const ConvertError &error) {
        throw RecordError(error.what());
    }
    // Sorted by key, as Qt's own writer orders them.
    const PngTexts texts{
        {kSoftwareKey, QStringLiteral("Terralume " TERRALUME_VERSION)},
        {kHeatKey, QString::number(record.heat)},
        {kSeedKey, record.seedText},
        {kSeedNumberKey, QString::number(number)},
        {kSizeKey, record.size},
        {kWaterKey, QString::number(record.water)},
        {kTitleKey, recordedTitle(record.title)},
    };
    // Qt gives a new picture the resolution of the screen it runs on; the
    // file must be the same wherever it is made, so it states one of its own
    // (96 pixels to the inch, the usual screen's).
    return encodePalettePng(shown, kDotsPerMetre, texts);
}

WorldRecord readWorldRecordFile(const QByteArray &name)
{
    const Refusal refuse(name.toStdString());
    QFile file;
#ifdef Q_OS_UNIX
    // Without blocking, so that a pipe nobody writes to cannot hold the
    // reader, and checked to be a file before a byte is read.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw refuse("cannot be read: " + std::string(std::strerror(errno)));
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw refuse("cannot be read: " + std::string(std::strerror(error)));
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw notAFile(refuse, kindOf(info.st_mode));
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw refuse("cannot be read: " + file.errorString().toStdString());
    }
#else
    const QString path = QString::fromUtf8(name);
    if (QFileInfo(path).isDir())
        throw notAFile(refuse, "a folder");
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        throw refuse("cannot be read: " + file.errorString().toStdString());
    if (file.isSequential())
        throw notAFile(refuse, "a device or a pipe");
#endif
    return readRecord(file, name.toStdString());
}

WorldRecord readWorldRecord(const QString &path)
{
#ifdef Q_OS_UNIX
    return readWorldRecordFile(QFile::encodeName(path));
#else
    return readWorldRecordFile(path.toUtf8());
#endif
}

WorldRecord readWorldRecord(QIODevice &png, const QString &path) { return readRecord(png, path.toStdString()); }

} // namespace terralume
