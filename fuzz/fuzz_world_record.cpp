// Feeds arbitrary bytes to the reader of a picture's recorded world. Any
// record it accepts must be one the program could have made, and must come
// back unchanged when written into a picture and read again; anything else it
// must refuse with RecordError, never with a crash or another exception, and
// in little memory whatever the compressed text unpacks to (scripts/fuzz.sh
// runs it under a low memory limit).

#include "WorldRecord.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using terralume::RecordError;
using terralume::WorldRecord;

namespace {

bool sameRecord(const WorldRecord &a, const WorldRecord &b)
{
    return a.size == b.size && a.seedText == b.seedText && a.water == b.water && a.heat == b.heat &&
           a.title == b.title;
}

WorldRecord readBytes(QByteArray bytes)
{
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    return terralume::readWorldRecord(device, QStringLiteral("fuzzed.png"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    WorldRecord record;
    try {
        record = readBytes(QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    } catch (const RecordError &) {
        return 0;
    }
    const bool knownSize = record.size == QLatin1String("Small") || record.size == QLatin1String("Medium") ||
                           record.size == QLatin1String("Large");
    if (!knownSize || record.water < -40 || record.water > 40 || record.heat < -40 || record.heat > 40 ||
        record.title.toUtf8().size() > terralume::kRecordTitleLimit)
        std::abort();
    QImage picture(1, 1, QImage::Format_RGB16);
    picture.fill(0);
    if (!sameRecord(readBytes(terralume::encodeRecordedPng(picture, record)), record))
        std::abort();
    return 0;
}
