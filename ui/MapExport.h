#pragma once
// Keeping a shown map as a file or on the clipboard: what the map window's
// Save Picture As, Save Page As PDF and Copy share.

#include "MapPrinter.h"
#include "WorldRecord.h"
#include "WorldSettings.h"

#include <QByteArray>
#include <QString>

namespace terralume::ui {

WorldRecord recordOf(const WorldSettings &settings);

// "<title or Untitled>-<seed>.<suffix>", the name a file dialog writes as it
// is: what a file system or a dialog on Linux or Windows treats specially is
// replaced by '_', and a long title is cut so that the whole name fits the
// file systems' 255 (bytes of UTF-8; UTF-16 units on Windows).
QString proposedFileName(const WorldSettings &settings, const QString &suffix);

// The folder the last save went to, kept between runs; at first the user's
// Pictures folder, or the home folder where there is none.
QString lastSaveFolder();

// Writes `bytes` to `path` all or nothing and remembers its folder; on
// failure throws an error whose message names the file and gives the
// system's reason, and the last folder stays as it was. Only a regular file
// (or a new one) is written: a person saving a map means a file. The folder
// is remembered only when the settings can be written at once; saving never
// waits for them.
void saveWhole(const QString &path, const QByteArray &bytes);

// The page's paper when no printer is asked: the default printer's when
// there is one and it takes A4 or Letter, else the locale's.
print::PdfOptions defaultPdfPaper();

} // namespace terralume::ui
