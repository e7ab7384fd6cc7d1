#pragma once
// A real map picture for the print tests, made as the map window makes its
// view.

#include "Generator.h"
#include "MapPicture.h"
#include "SeededRandom.h"

#include <QImage>

#include <string>

namespace terralume::print::maps {

// At zoom 1 the view as a show leaves it: the whole map picture, one pixel
// per cell, last row and column included.
inline QImage mapView(const std::string &size, int water = 0, int heat = 0, int zoom = 1, const char *seed = "42861244")
{
    World world;
    SeededRandom random;
    random.LoadSeed(seed);
    GenerateHeights(world, size, water, random);
    MapView view;
    const QImage base = drawMapPicture(world, tintFromHeatPosition(heat));
    if (zoom == 1)
        view.show(base);
    else
        view.zoom(base, zoom);
    return view.image();
}

} // namespace terralume::print::maps
