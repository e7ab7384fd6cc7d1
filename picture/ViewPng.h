#pragma once
// A map view as a PNG of its own colours. A view has a few hundred colours
// at most, so one byte a pixel into a palette holds it without loss in a
// third of the bytes of RGB, and the rows a zoom repeats are stored as
// "same as the row above", which deflate packs to almost nothing. The
// deflating runs on every core (ParallelDeflate.h).

#include <QByteArray>
#include <QImage>
#include <QString>

#include <utility>
#include <vector>

namespace terralume {

// Text chunks in the order given: tEXt for short Latin-1, zTXt for longer
// Latin-1, iTXt (UTF-8, compressed when longer) for any other text.
using PngTexts = std::vector<std::pair<QString, QString>>;

// The 5-6-5 picture `shown` (QImage::Format_RGB16) as an 8-bit palette PNG
// whose colours are the picture's own widened as Qt widens them, stating
// `dotsPerMetre` (none when 0) and carrying `texts`. Qt and every other
// reader get back exactly the pixels of `shown` converted to RGB888. Empty
// when the picture is not 5-6-5, is empty, has a side of over a million
// pixels (more than common readers take) or has more than 256 colours.
// Throws std::bad_alloc when memory cannot be had.
QByteArray encodePalettePng(const QImage &shown, int dotsPerMetre = 0, const PngTexts &texts = {});

// The view as a PNG for the clipboard: encodePalettePng's, or Qt's own PNG
// of the picture when that is empty. Safe off the GUI thread, and made in a
// small part of the time Qt's own PNG takes: a copy makes it ahead and
// offers it as its "image/png", so Qt does not encode the picture on the GUI
// thread when another program pastes it.
QByteArray encodeViewPng(const QImage &shown);

} // namespace terralume
