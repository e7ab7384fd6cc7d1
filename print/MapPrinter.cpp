#include "MapPrinter.h"

#include "JpegRoundTrip.h"
#include "PdfImage.h"
#include "PrintError.h"

#include <QBuffer>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <future>
#include <system_error>
#include <utility>

namespace terralume::print {

QByteArray pdfPage(const QImage &printBitmap, const PageDescription &page, const QPageLayout &layout, int dotsPerInch,
                   const QString &creator)
{
    // The picture's deflating takes as long as drawing the rest of the page,
    // so the two run side by side; with no thread for it, one after the other.
    std::future<QByteArray> deflated;
    const auto deflate = [&printBitmap] { return deflatedIndices(printBitmap); };
    try {
        deflated = std::async(std::launch::async, deflate);
    } catch (const std::system_error &) {
        deflated = std::async(std::launch::deferred, deflate);
    }
    QByteArray bytes;
    bool standIn = false;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        if (!creator.isEmpty())
            writer.setCreator(creator);
        writer.setResolution(dotsPerInch);
        writer.setPageLayout(layout);
        QPainter painter;
        if (!painter.begin(&writer))
            return {};
        try {
            // A stand-in where the picture goes; its image becomes the
            // picture's own once the engine is done (PdfImage.h).
            const PageLayout laid =
                composePage(painter, writer.width(), writer.height(), writer.logicalDpiY(), page, printBitmap,
                            separatorsOf(QLocale::system()),
                            [](QPainter &p, const QRect &target, const QImage &) { drawPictureStandIn(p, target); });
            standIn = !laid.picture.isEmpty();
        } catch (...) {
            painter.end(); // the half-drawn page goes with the buffer
            throw;
        }
        if (!painter.end())
            return {};
    }
    // The engine says nothing when a write falls short; a whole file starts
    // with its header and ends with the end-of-file marker.
    if (!bytes.startsWith("%PDF-") || !bytes.trimmed().endsWith("%%EOF"))
        return {};
    if (standIn && !replaceStandIn(bytes, printBitmap, deflated.get()))
        return {};
    return bytes;
}

QByteArray composePdfBytes(const QImage &view, const PageDescription &page, const PdfOptions &options,
                           QImage *printBitmap)
{
    QImage converted = ReJigPallete(view);
    const QMarginsF margins(kPdfMarginMillimetres, kPdfMarginMillimetres, kPdfMarginMillimetres, kPdfMarginMillimetres);
    const QPageLayout layout(QPageSize(options.paper == Paper::A4 ? QPageSize::A4 : QPageSize::Letter),
                             options.landscape ? QPageLayout::Landscape : QPageLayout::Portrait, margins,
                             QPageLayout::Millimeter);
    const QByteArray bytes = pdfPage(converted, page, layout, kPdfDotsPerInch, QStringLiteral("Terralume"));
    if (bytes.isEmpty())
        throw PrintError("Cannot write the PDF page");
    if (printBitmap != nullptr)
        *printBitmap = std::move(converted);
    return bytes;
}

} // namespace terralume::print
