#include "MapPicture.h"

#include "Generator.h"

#include <cstdlib>
#include <new>
#include <utility>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace terralume {

namespace {

using SharedPixels = std::shared_ptr<std::uint16_t[]>;

// A null QImage is how Qt reports that it could not allocate the pixels;
// the callers want that as an error they can report.
QImage allocate(int width, int height, QImage::Format format)
{
    QImage image(width, height, format);
    if (image.isNull())
        throw std::bad_alloc();
    return image;
}

// A fresh x5 view is tens of megabytes touched for the first time; in
// huge pages that costs a few hundred page faults instead of thousands.
SharedPixels allocatePixels(std::size_t count)
{
#ifdef __linux__
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t bytes = count * sizeof(std::uint16_t);
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void *memory = std::aligned_alloc(kHugePage, rounded);
        if (!memory)
            throw std::bad_alloc();
        madvise(memory, rounded, MADV_HUGEPAGE);
        return SharedPixels(static_cast<std::uint16_t *>(memory), [](std::uint16_t *pixels) { std::free(pixels); });
    }
#endif
    return std::make_unique_for_overwrite<std::uint16_t[]>(count);
}

// A QImage over shared pixel storage: the storage lives as long as any copy
// of the image does, so a copy of a view may be kept across zooms.
QImage imageOver(const SharedPixels &storage, int side, qsizetype bytesPerLine)
{
    QImage image(
        reinterpret_cast<uchar *>(storage.get()), side, side, bytesPerLine, QImage::Format_RGB16,
        [](void *holder) { delete static_cast<SharedPixels *>(holder); }, new SharedPixels(storage));
    if (image.isNull())
        throw std::bad_alloc();
    return image;
}

} // namespace

QString mapCaption(const QString &title)
{
    // Only an empty title is untitled: a title of blanks is kept as typed.
    return QStringLiteral("Terralume - ") + (title.isEmpty() ? QStringLiteral("Untitled") : title);
}

ConstPixelView565 pixelView(const QImage &picture565)
{
    return {reinterpret_cast<const std::uint16_t *>(picture565.constBits()), picture565.width(), picture565.height(),
            picture565.bytesPerLine()};
}

PixelView565 pixelView(QImage &picture565)
{
    return {reinterpret_cast<std::uint16_t *>(picture565.bits()), picture565.width(), picture565.height(),
            picture565.bytesPerLine()};
}

QImage drawMapPicture(const World &world, Tint tint)
{
    const int side = world.Heights.side();
    QImage picture = allocate(side, side, QImage::Format_RGB16);
    colourWorld(world, tint, pixelView(picture));
    return picture;
}

MapView::MapView(PixelAllocator allocator)
{
    setAllocator(std::move(allocator));
}

void MapView::setAllocator(PixelAllocator allocator)
{
    allocator_ = allocator ? std::move(allocator) : PixelAllocator(allocatePixels);
}

void MapView::show(const QImage &base)
{
    image_ = base;
}

// Nobody but this view holds the storage: besides storage_ itself, at most
// the view's own image over it, and that image not shared with any copy.
bool MapView::storageFree() const
{
    const bool shownFromStorage = image_.constBits() == reinterpret_cast<const uchar *>(storage_.get());
    if (!shownFromStorage)
        return storage_.use_count() == 1;
    return storage_.use_count() == 2 && image_.isDetached();
}

void MapView::zoom(const QImage &base, int factor)
{
    const int side = (base.width() - 1) * factor;
    // Lines padded to whole 32-bit words, as QImage's own are.
    const std::size_t pixelsPerLine = (static_cast<std::size_t>(side) + 1) & ~std::size_t{1};
    const std::size_t count = pixelsPerLine * static_cast<std::size_t>(side);
    const qsizetype bytesPerLine = static_cast<qsizetype>(pixelsPerLine * sizeof(std::uint16_t));

    const bool reusable = storage_ && count <= capacity_ && storageFree();
    SharedPixels storage = reusable ? storage_ : allocator_(count);
    if (!storage)
        throw std::bad_alloc();
    QImage zoomed = imageOver(storage, side, bytesPerLine);
    zoomView(pixelView(base), factor, pixelView(zoomed));
    image_ = std::move(zoomed);
    if (!reusable) {
        storage_ = std::move(storage);
        capacity_ = count;
    }
}

} // namespace terralume
