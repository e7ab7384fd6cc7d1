#pragma once
// The printer-less twin of the Print command (PrintJob.h), the PDF page.
// Both draw through composePage, so the paper and the file agree.

#include "PageComposer.h"

#include <QByteArray>
#include <QImage>
#include <QPageLayout>
#include <QString>

namespace terralume::print {

enum class Paper { A4, Letter };

struct PdfOptions {
    Paper paper = Paper::A4;
    bool landscape = false;
};

// The PDF page is laid out at this resolution, with a printable area 6.35 mm
// (a quarter inch) in from every edge of the paper, as a typical printer has.
inline constexpr int kPdfDotsPerInch = 600;
inline constexpr double kPdfMarginMillimetres = 6.35;

// The same page as PrintMap would print, as the bytes of a whole PDF file
// composed in memory: converts `view` with ReJigPallete and composes the page.
// Needs a QGuiApplication for the fonts (the offscreen platform will do).
// The footer's date and time use the system locale's separators. The
// PrintBitmap drawn goes to `printBitmap` when given; its pixels are embedded
// without loss. Throws PrintError.
QByteArray composePdfBytes(const QImage &view, const PageDescription &page, const PdfOptions &options = {},
                           QImage *printBitmap = nullptr);

// The whole one-page PDF of a PrintBitmap already made, on `layout`. CUPS is
// handed this page too. The picture is one image of PrintBitmap's own indices
// and colour table, or Qt's drawing of it (PdfImage.h). Throws PrintError
// when Qt's engine fails the page, std::bad_alloc when memory runs out.
QByteArray pdfPage(const QImage &printBitmap, const PageDescription &page, const QPageLayout &layout, int dotsPerInch,
                   const QString &creator);

} // namespace terralume::print
