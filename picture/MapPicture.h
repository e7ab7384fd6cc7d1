#pragma once
// The map pictures as Qt images, made the one way the windows, the printed
// page and the renderer all share: 16-bit 5-6-5 (QImage::Format_RGB16)
// pictures painted by the core. Qt's own conversion to Format_RGB888 widens
// them by bit replication, as the printed page's JPEG feed does row by row.

#include "Colouring.h"

#include <QImage>
#include <QString>

namespace terralume {

struct World;

// The map at one pixel per cell, (GridExtent + 1) pixels square.
// Throws std::bad_alloc when the picture cannot be allocated.
QImage drawMapPicture(const World &world, Tint tint);

// The view at a whole zoom factor 1..5: GridExtent * zoom pixels square,
// the first GridExtent cells each a zoom x zoom block.
// Throws std::bad_alloc when the picture cannot be allocated.
QImage zoomMapPicture(const QImage &base, int zoom);

// The map window's caption for a title, which is also the printed page's
// title: "Terralume - " and the title exactly as typed, or "Untitled".
QString mapCaption(const QString &title);

ConstPixelView565 pixelView(const QImage &picture565);
PixelView565 pixelView(QImage &picture565);

} // namespace terralume
