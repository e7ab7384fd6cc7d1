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

// "<title or Untitled>-<seed>.<suffix>", with the characters no file name
// may hold replaced.
QString proposedFileName(const WorldSettings &settings, const QString &suffix);

// The folder the last save went to, kept between runs; the home folder at first.
QString lastSaveFolder();

// Writes `bytes` to `path` all or nothing and remembers its folder; on
// failure throws an error whose message names the file and gives the
// system's reason, and the last folder stays as it was.
void saveWhole(const QString &path, const QByteArray &bytes);

// The page's paper when no printer is asked: the default printer's when
// there is one and it takes A4 or Letter, else the locale's.
print::PdfOptions defaultPdfPaper();

} // namespace terralume::ui
