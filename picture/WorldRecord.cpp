#include "WorldRecord.h"

#include "ImageThreads.h"
#include "SeededRandom.h"
#include "TerralumeVersion.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QtEndian>

#include <new>
#include <optional>
#include <utility>

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

constexpr int kLevelLimit = 40;
constexpr int kDotsPerMetre = 3780;
constexpr int kSeedLimit = 8;

std::uint32_t seedNumber(const QString &seedText)
{
    SeededRandom random;
    random.LoadSeed(seedText.toStdString());
    return random.seedWord();
}

std::optional<int> level(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < -kLevelLimit || value > kLevelLimit)
        return std::nullopt;
    return value;
}

// A text chunk longer than this is no record of ours (the longest title
// the settings window takes stays well below it); it is skipped unread.
constexpr quint32 kTextChunkLimit = 128 * 1024;

QByteArray uncompressed(QByteArrayView deflated)
{
    // qUncompress wants the size up front; it grows its buffer past a low guess.
    QByteArray framed(4, '\0');
    qToBigEndian<quint32>(quint32(deflated.size()) * 4, framed.data());
    framed.append(deflated);
    return qUncompress(framed);
}

// The text of one tEXt, zTXt or iTXt chunk's data, keyword to text.
std::optional<std::pair<QString, QString>> chunkText(const QByteArray &type, const QByteArray &data)
{
    const qsizetype keyEnd = data.indexOf('\0');
    if (keyEnd <= 0)
        return std::nullopt;
    const QString key = QString::fromLatin1(data.left(keyEnd));
    if (type == "tEXt")
        return std::pair(key, QString::fromLatin1(data.mid(keyEnd + 1)));
    if (type == "zTXt" && data.size() > keyEnd + 2)
        return std::pair(key, QString::fromLatin1(uncompressed(QByteArrayView(data).sliced(keyEnd + 2))));
    if (type == "iTXt" && data.size() > keyEnd + 3) {
        const bool compressed = data[keyEnd + 1] != 0;
        const qsizetype language = data.indexOf('\0', keyEnd + 3);
        const qsizetype translated = language < 0 ? -1 : data.indexOf('\0', language + 1);
        if (translated < 0)
            return std::nullopt;
        const QByteArrayView text = QByteArrayView(data).sliced(translated + 1);
        return std::pair(key, QString::fromUtf8(compressed ? uncompressed(text) : text.toByteArray()));
    }
    return std::nullopt;
}

// The text chunks of a PNG, keyword to text; nothing when `png` is no PNG.
// Chunks are walked by their lengths, the pixels skipped, so a large file
// costs no more memory than a small one.
std::optional<QHash<QString, QString>> pngTexts(QIODevice &png)
{
    static constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";
    if (png.read(8) != QByteArrayView(kSignature, 8))
        return std::nullopt;
    QHash<QString, QString> texts;
    for (;;) {
        const QByteArray header = png.read(8);
        if (header.size() < 8)
            break;
        const quint32 length = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4, 4);
        if (type == "IEND")
            break;
        const bool text = type == "tEXt" || type == "zTXt" || type == "iTXt";
        if (text && length <= kTextChunkLimit) {
            const QByteArray data = png.read(length);
            if (data.size() < qsizetype(length))
                break;
            // A text ends at its first NUL for every other reader and writer
            // of PNG text, so it does here too.
            if (const auto entry = chunkText(type, data))
                texts.insert(entry->first, entry->second.left(entry->second.indexOf(QChar(0))));
        } else if (!png.seek(png.pos() + qint64(length))) {
            break;
        }
        // The chunk's CRC.
        if (!png.seek(png.pos() + 4))
            break;
    }
    return texts;
}

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
    QImage rgb = convertedImage(shown, QImage::Format_RGB888);
    // Qt's way of saying the pixels could not be allocated.
    if (rgb.isNull())
        throw std::bad_alloc();
    // Qt gives a new picture the resolution of the screen it runs on; the
    // file must be the same wherever it is made, so it states one of its own
    // (96 pixels to the inch, the usual screen's).
    rgb.setDotsPerMeterX(kDotsPerMetre);
    rgb.setDotsPerMeterY(kDotsPerMetre);
    rgb.setText(kSizeKey, record.size);
    rgb.setText(kSeedKey, record.seedText);
    rgb.setText(kSeedNumberKey, QString::number(number));
    rgb.setText(kWaterKey, QString::number(record.water));
    rgb.setText(kHeatKey, QString::number(record.heat));
    rgb.setText(kTitleKey, recordedTitle(record.title));
    rgb.setText(kSoftwareKey, QStringLiteral("Terralume " TERRALUME_VERSION));
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!rgb.save(&buffer, "PNG"))
        return {};
    return encoded;
}

WorldRecord readWorldRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw RecordError("'" + path.toStdString() + "' cannot be read: " + file.errorString().toStdString());
    return readWorldRecord(file, path);
}

WorldRecord readWorldRecord(QIODevice &png, const QString &path)
{
    const std::string name = path.toStdString();
    const auto texts = pngTexts(png);
    if (!texts)
        throw RecordError("'" + name + "' is not a PNG picture");
    if (!texts->contains(kSizeKey) && !texts->contains(kSeedKey))
        throw RecordError("'" + name + "' records no world settings");
    const auto text = [&](const QString &key) { return texts->value(key); };

    const auto broken = [&](const char *what) { return RecordError("'" + name + "' records no valid " + what); };
    WorldRecord record;
    record.size = text(kSizeKey);
    if (record.size != QLatin1String("Small") && record.size != QLatin1String("Medium") &&
        record.size != QLatin1String("Large"))
        throw broken("size");
    record.seedText = text(kSeedKey);
    bool numbered = false;
    const uint recordedNumber = text(kSeedNumberKey).toUInt(&numbered);
    // The number is checked against the text so that a record edited by
    // hand cannot make another world than the one the picture shows.
    try {
        if (record.seedText.size() > kSeedLimit || !numbered || seedNumber(record.seedText) != recordedNumber)
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

} // namespace terralume
