#pragma once
// The map pictures as Qt images, made the one way the windows, the printed
// page and the renderer all share: 16-bit 5-6-5 (QImage::Format_RGB16)
// pictures painted by the core. Qt's own conversion to Format_RGB888 widens
// them by bit replication, as the printed page's JPEG feed does row by row.

#include "Colouring.h"

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace terralume {

struct World;

// The map at one pixel per cell, (GridExtent + 1) pixels square.
// Throws std::bad_alloc when the picture cannot be allocated.
QImage drawMapPicture(const World &world, Tint tint);

// The picture a map is viewed through: a map picture as it is, or zoomed.
// Its pixel memory is kept from zoom to zoom, so going back to a large zoom
// writes into memory already touched instead of fresh pages; memory that a
// copy of an earlier view still uses is never written over.
class MapView {
public:
    // Where the pixel memory comes from: `count` 16-bit pixels, or a
    // std::bad_alloc (or nothing).
    using PixelAllocator = std::function<std::shared_ptr<std::uint16_t[]>(std::size_t count)>;

    explicit MapView(PixelAllocator allocator = {});

    // An empty allocator restores the default one.
    void setAllocator(PixelAllocator allocator);

    // The view becomes `base` itself.
    void show(const QImage &base);
    // The view becomes `base` at a whole zoom factor 1..5: GridExtent * zoom
    // pixels square, the first GridExtent cells each a zoom x zoom block.
    // Throws std::bad_alloc when the pixels cannot be had; the view is then
    // left as it was.
    void zoom(const QImage &base, int factor);

    const QImage &image() const { return image_; }

private:
    PixelAllocator allocator_;
    std::shared_ptr<std::uint16_t[]> storage_;
    std::size_t capacity_ = 0;
    QImage image_;
};

// The map window's caption for a title, which is also the printed page's
// title: "Terralume - " and the title exactly as typed, or "Untitled".
QString mapCaption(const QString &title);

ConstPixelView565 pixelView(const QImage &picture565);
PixelView565 pixelView(QImage &picture565);

} // namespace terralume
