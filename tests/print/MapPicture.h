#pragma once
// A real map picture for the print tests: generated and coloured by the core
// exactly as the map window makes its view.

#include "Colouring.h"
#include "Generator.h"
#include "SeededRandom.h"

#include <QImage>

#include <string>

namespace terralume::print::maps {

inline QImage mapView(const std::string &size, int water = 0, int heat = 0, int zoom = 1,
                      const char *seed = "42861244")
{
    World world;
    SeededRandom random;
    random.LoadSeed(seed);
    GenerateHeights(world, size, water, random);
    QImage base(world.GridExtent + 1, world.GridExtent + 1, QImage::Format_RGB16);
    colourWorld(world, tintFromHeatPosition(heat),
                PixelView565{reinterpret_cast<std::uint16_t *>(base.bits()), base.width(), base.height(),
                             base.bytesPerLine()});
    if (zoom == 1)
        return base;
    QImage view(world.GridExtent * zoom, world.GridExtent * zoom, QImage::Format_RGB16);
    zoomView(ConstPixelView565{reinterpret_cast<const std::uint16_t *>(base.constBits()), base.width(),
                               base.height(), base.bytesPerLine()},
             zoom,
             PixelView565{reinterpret_cast<std::uint16_t *>(view.bits()), view.width(), view.height(),
                          view.bytesPerLine()});
    return view;
}

} // namespace terralume::print::maps
