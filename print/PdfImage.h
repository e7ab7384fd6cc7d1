#pragma once
// PrintBitmap written into the PDF page as one image of its own making.
//
// Qt's PDF engine turns any image into 32-bit colour and deflates it at
// zlib's default level on one thread, which for the largest view took most
// of a second and over a hundred megabytes. The page is drawn instead with
// a one-pixel stand-in where the picture goes; the engine draws every image
// through the unit square scaled to its rectangle, so the stand-in's object
// can then be swapped for the picture's own: its 8-bit indices under an
// /Indexed colour space of its colour table, deflated on every core.

#include "PageComposer.h"

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <functional>
#include <optional>
#include <iosfwd>
#include <string>

class QPainter;

namespace terralume::print {

// Draws the stand-in filling `target`.
void drawPictureStandIn(QPainter &painter, const QRect &target);

// PrintBitmap's indices, deflated as its image object holds them. Needs
// nothing of the page, so it may be made on another thread while the page
// is drawn.
QByteArray deflatedIndices(const QImage &printBitmap);

// Why a file was left as it was, or nothing once the picture is in it.
using SwapRefusal = std::optional<std::string>;

// Puts `printBitmap` in place of the only image in `pdf`, a whole file as
// Qt's PDF engine writes it (one cross-reference table, each stream's length
// an object of its own), and mends the cross-reference table. Refuses, with
// `pdf` untouched, a file not of that form (a cross-reference stream, a later
// revision appended, a length written in the image's dictionary) or one that
// holds no image or more than one.
// `deflated` holds deflatedIndices(printBitmap).
SwapRefusal replaceStandIn(QByteArray &pdf, const QImage &printBitmap, const QByteArray &deflated);

// A whole PDF file of the page, its picture drawn by the drawer given.
using PageDrawing = std::function<QByteArray(const PictureDrawer &drawPicture)>;

// The page `drawPage` makes with the stand-in, the picture then swapped in.
// When the file is not of the form the swap knows (another build of Qt may
// write another), the page is drawn again with Qt drawing the picture
// itself: slower and larger, but the same page. Why goes to `notes` as one
// line. `deflated` gives deflatedIndices(printBitmap).
QByteArray pageWithPicture(const PageDrawing &drawPage, const QImage &printBitmap,
                           const std::function<QByteArray()> &deflated, std::ostream &notes);

} // namespace terralume::print
