#pragma once

#include <QIcon>
#include <QString>

namespace terralume {

// The pictures and help pages are compiled into the program; this makes
// them reachable under ":/terralume/". Safe to call more than once.
void loadAssets();

// Where the embedded files live.
inline const QString kIconResource = QStringLiteral(":/terralume/terralume.png");
inline const QString kBannerResource = QStringLiteral(":/terralume/banner.png");
inline const QString kHelpContentsResource = QStringLiteral(":/terralume/help/index.html");

// The globe: the 16-colour 32 x 32 picture, with the larger drawings of the
// same globe for screens and task bars that want more pixels.
QIcon programIcon();

} // namespace terralume
