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

#include <QByteArray>
#include <QImage>
#include <QRect>

class QPainter;

namespace terralume::print {

// Draws the stand-in filling `target`.
void drawPictureStandIn(QPainter &painter, const QRect &target);

// The image object for `printBitmap` (QImage::Format_Indexed8) as object
// `number`, and object `lengthNumber` holding its stream's length.
struct ImageObjects {
    QByteArray image;
    QByteArray length;
};
ImageObjects indexedImageObjects(const QImage &printBitmap, int number, int lengthNumber);
ImageObjects indexedImageObjects(const QImage &printBitmap, int number, int lengthNumber, const QByteArray &deflated);

// PrintBitmap's indices, deflated as its image object holds them. Needs
// nothing of the page, so it may be made on another thread while the page
// is drawn.
QByteArray deflatedIndices(const QImage &printBitmap);

// Puts `printBitmap` in place of the only image in `pdf`, a whole file as
// Qt's PDF engine writes it (one cross-reference table, each stream's length
// an object of its own), and mends the cross-reference table. False, with
// `pdf` untouched, when the file is not of that form or holds no image or
// more than one.
bool replaceStandIn(QByteArray &pdf, const QImage &printBitmap);
// The same with the indices deflated already (deflatedIndices).
bool replaceStandIn(QByteArray &pdf, const QImage &printBitmap, const QByteArray &deflated);

} // namespace terralume::print
