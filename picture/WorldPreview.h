#pragma once
// Worlds seen small, many at a time: a thumbnail of the map picture and the
// figures of each world a search finds, for choosing one among many.

#include "Colouring.h"
#include "WorldSearch.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>

namespace terralume {

struct WorldPreview {
    std::int64_t seed = 0;
    WorldFigures figures;
    QImage thumbnail;
    // The world's grid, kept so that its thumbnail can be made again in
    // other colours or at another size without generating it again.
    std::shared_ptr<const World> world;
};

// The map picture seen `side` pixels square (at most the map's own side):
// each pixel the mean colour of the map's pixels it covers, the colours
// those of the map window.
QImage worldThumbnail(const World &world, Tint tint, int side);

// Makes `request` keep a thumbnail and a copy of the grid of every world it
// finds, on the thread that made the world, for previewOf.
void keepThumbnails(SearchRequest &request, int heatPosition, int side);

WorldPreview previewOf(const FoundWorld &found);

// "1 landmass", "3 landmasses".
QString landmassesText(int landmasses);

// The figures in words, `separator` between them: "land 41.07 %, 3
// landmasses, largest 30.12 %, highest point 231".
QString figuresText(const WorldFigures &figures, const QString &separator);

// The same after the seed: "Seed 123: land 41.07 %, …"; `lineBreaks` puts
// the seed and each figure on a line of its own.
QString figuresText(const WorldPreview &preview, bool lineBreaks);

} // namespace terralume
