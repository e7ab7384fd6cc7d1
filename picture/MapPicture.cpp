#include "MapPicture.h"

#include "Generator.h"

#include <new>

namespace terralume {

namespace {

// A null QImage is how Qt reports that it could not allocate the pixels;
// the callers want that as an error they can report.
QImage allocate(int width, int height, QImage::Format format)
{
    QImage image(width, height, format);
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

QImage zoomMapPicture(const QImage &base, int zoom)
{
    const int side = (base.width() - 1) * zoom;
    QImage view = allocate(side, side, QImage::Format_RGB16);
    zoomView(pixelView(base), zoom, pixelView(view));
    return view;
}

} // namespace terralume
