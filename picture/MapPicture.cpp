#include "MapPicture.h"

#include "Generator.h"

#include <cstdlib>
#include <new>
#include <utility>

#ifdef Q_OS_LINUX
#include <sys/mman.h>
#endif

namespace terralume {

namespace {

using SharedPixels = std::shared_ptr<std::uint16_t[]>;

// A fresh x5 view is tens of megabytes touched for the first time; in
// huge pages that costs a few hundred page faults instead of thousands.
SharedPixels allocatePixels(std::size_t count)
{
#ifdef Q_OS_LINUX
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
    // Left uninitialised: every pixel is drawn before it is read.
    return std::unique_ptr<std::uint16_t[]>(new std::uint16_t[count]);
}

// A QImage over shared pixel storage: the storage lives as long as any copy
// of the image does, so a copy of a view may be kept across zooms.
QImage imageOver(const SharedPixels &storage, int side, qsizetype bytesPerLine)
{
    auto *holder = new SharedPixels(storage);
    QImage image(
        reinterpret_cast<uchar *>(storage.get()), side, side, bytesPerLine, QImage::Format_RGB16,
        [](void *held) { delete static_cast<SharedPixels *>(held); }, holder);
    // Qt drops the holder without a word when it cannot make the image.
    if (image.isNull()) {
        delete holder;
        throw std::bad_alloc();
    }
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
    QImage picture(side, side, QImage::Format_RGB16);
    // A null QImage is how Qt reports that it could not allocate the pixels.
    if (picture.isNull())
        throw std::bad_alloc();
    colourWorld(world, tint, pixelView(picture));
    return picture;
}

MapView::MapView(PixelAllocator allocator) { setAllocator(std::move(allocator)); }

void MapView::setAllocator(PixelAllocator allocator)
{
    allocator_ = allocator ? std::move(allocator) : PixelAllocator(allocatePixels);
}

void MapView::show(const QImage &base) { image_ = base; }

void MapView::zoom(const QImage &base, int factor)
{
    const int side = (base.width() - 1) * factor;
    // Lines padded to whole 32-bit words, as QImage's own are.
    const std::size_t pixelsPerLine = (static_cast<std::size_t>(side) + 1) & ~std::size_t{1};
    const std::size_t count = pixelsPerLine * static_cast<std::size_t>(side);
    const qsizetype bytesPerLine = static_cast<qsizetype>(pixelsPerLine * sizeof(std::uint16_t));

    // The storage is free when nobody else holds it: besides storage_, at
    // most the view's own image over it, and that image shared with no copy.
    const bool shownFromStorage = image_.constBits() == reinterpret_cast<const uchar *>(storage_.get());
    const bool reusable = storage_ && count <= capacity_ && storage_.use_count() == (shownFromStorage ? 2 : 1) &&
                          (!shownFromStorage || image_.isDetached());
    SharedPixels storage = reusable ? storage_ : allocator_(count);
    if (!storage)
        throw std::bad_alloc();
    QImage zoomed = imageOver(storage, side, bytesPerLine);
    zoomView(pixelView(base), factor, pixelView(zoomed));
    image_ = std::move(zoomed);
    if (!reusable)
        capacity_ = count;
    storage_ = std::move(storage);
}

} // namespace terralume
