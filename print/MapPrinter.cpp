#include "MapPrinter.h"

#include "JpegRoundTrip.h"
#include "PdfImage.h"
#include "PrintError.h"
#include "WorkerThreads.h"

#include <QBuffer>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <exception>
#include <iostream>
#include <memory>
#include <thread>
#include <utility>

namespace terralume::print {

namespace {

// Qt's PDF engine is not written for exceptions: an allocation that fails
// inside it throws from half-way through its work, and ending the painter
// after that, as its destructor does, goes back into the half-done work and
// throws out of the destructor, which ends the program. A page that fails is
// therefore let go of as it stands, its painter never ended nor destroyed:
// what the drawing holds is lost, the program is not.
QByteArray drawnPage(const QImage &printBitmap, const PageDescription &page, const QPageLayout &layout,
                     int dotsPerInch, const QString &creator, const PictureDrawer &drawPicture)
{
    struct Drawing {
        explicit Drawing(QByteArray *bytes) : buffer(bytes), writer(&buffer) {}
        QBuffer buffer;
        QPdfWriter writer;
        QPainter painter;
    };
    requirePrintFont(); // before there is a drawing that a failure would leave behind
    QByteArray bytes;
    auto drawing = std::make_unique<Drawing>(&bytes);
    QPdfWriter &writer = drawing->writer;
    drawing->buffer.open(QIODevice::WriteOnly);
    if (!creator.isEmpty())
        writer.setCreator(creator);
    writer.setResolution(dotsPerInch);
    writer.setPageLayout(layout);
    if (!drawing->painter.begin(&writer))
        throw PrintError("The PDF engine would not start the page");
    bool ended = false;
    try {
        composePage(drawing->painter, writer.width(), writer.height(), writer.logicalDpiY(), page, printBitmap,
                    separatorsOf(QLocale::system()), drawPicture);
        ended = drawing->painter.end();
    } catch (...) {
        (void)drawing.release();
        throw;
    }
    if (!ended)
        throw PrintError("The PDF engine could not finish the page");
    // The engine says nothing when a write falls short; a whole file starts
    // with its header and ends with the end-of-file marker.
    if (!bytes.startsWith("%PDF-") || !bytes.trimmed().endsWith("%%EOF"))
        throw PrintError("The PDF engine wrote only part of the page");
    return bytes;
}

} // namespace

QByteArray pdfPage(const QImage &printBitmap, const PageDescription &page, const QPageLayout &layout, int dotsPerInch,
                   const QString &creator)
{
    // The picture's deflating takes as long as drawing the rest of the page,
    // so the two run side by side; with no thread for it, one after the other.
    // It starts where the picture goes, when the page's fonts have been
    // found: Fontconfig, which finds them, crashes on an allocation that
    // fails, and the deflating takes much of the memory there is.
    QByteArray deflated;
    std::exception_ptr failed;
    bool started = false;
    const auto deflate = [&] {
        try {
            deflated = deflatedIndices(printBitmap);
        } catch (...) {
            failed = std::current_exception();
        }
    };
    // Declared after what it writes, so that it is waited for before they go.
    std::jthread deflating;
    const auto startDeflating = [&] {
        if (!std::exchange(started, true))
            deflating = startThread([&](std::stop_token) { deflate(); });
    };
    const auto drawPage = [&](const PictureDrawer &drawPicture) {
        return drawnPage(printBitmap, page, layout, dotsPerInch, creator,
                         [&](QPainter &painter, const QRect &target, const QImage &picture) {
                             startDeflating();
                             drawPicture(painter, target, picture);
                         });
    };
    const auto deflatedPicture = [&] {
        startDeflating();
        if (deflating.joinable())
            deflating.join();
        else
            deflate();
        if (failed)
            std::rethrow_exception(failed);
        return deflated;
    };
    return pageWithPicture(drawPage, printBitmap, deflatedPicture, std::cerr);
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
    if (printBitmap != nullptr)
        *printBitmap = std::move(converted);
    return bytes;
}

} // namespace terralume::print
