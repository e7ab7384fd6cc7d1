#pragma once
// The settings a map picture was made from, kept in the PNG itself as
// standard text chunks, so that the file alone makes the same world again
// and common tools (exiftool, identify -verbose) show how it was made.

#include "WorldSettingsRules.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QString>

#include <cstdint>
#include <stdexcept>

namespace terralume {

struct WorldRecord {
    QString size = QString::fromLatin1(kDefaultSize); // a name of kWorldSizes
    QString seedText = QString::fromLatin1(kDefaultSeedText);
    int water = kDefaultWater; // -kLevelLimit..kLevelLimit
    int heat = kDefaultHeat;   // -kLevelLimit..kLevelLimit
    QString title;
};

// The most a record keeps of a title, in bytes of UTF-8: far more than a
// page can print, little enough that a title read back lays out at once.
// The reader refuses a longer one; the writer records a longer one cut.
inline constexpr qsizetype kRecordTitleLimit = 4096;

// `title` as a record keeps it: whole when it fits the limit, else cut on a
// character boundary to the longest that does.
QString recordedTitle(const QString &title);

// A picture that records no world, or a record that does not hold together.
class RecordError : public std::runtime_error {
public:
    explicit RecordError(const std::string &message) : std::runtime_error(message) {}
};

// The shown 5-6-5 picture as an 8-bit palette PNG (ViewPng.h) carrying
// `record`; it reads back as the picture converted to RGB888. Every map view
// fits a palette: its colours follow from a cell's height alone, so there
// are at most 256. Empty for a picture encodePalettePng refuses. Throws
// RecordError when the seed text is not one the settings window takes, and
// std::bad_alloc when memory cannot be had. The title is recorded as
// recordedTitle() gives it.
QByteArray encodeRecordedPng(const QImage &shown, const WorldRecord &record);

// The world recorded in the PNG file named `name` as the file system takes
// it: bytes on Linux, whatever the locale, UTF-8 on Windows. Throws
// RecordError, with a message naming the file, when it cannot be read, is
// not a regular file, is not a whole PNG, records no world or records one
// the program could not have made. Never blocks on a pipe or a device, and
// takes a few pages of memory whatever the file holds.
WorldRecord readWorldRecordFile(const QByteArray &name);
// The same for a name as Qt shows it.
WorldRecord readWorldRecord(const QString &path);
// The same from an open device; `path` only names it in messages.
WorldRecord readWorldRecord(QIODevice &png, const QString &path);

} // namespace terralume
