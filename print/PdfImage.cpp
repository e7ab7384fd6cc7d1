#include "PdfImage.h"

#include "ParallelDeflate.h"

#include <QPainter>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

namespace terralume::print {

namespace {

// Bytes `pdf` holds at `at`, or nothing past its end.
bool holds(const QByteArray &pdf, qsizetype at, QByteArrayView text)
{
    return at >= 0 && at <= pdf.size() && QByteArrayView(pdf).sliced(at).startsWith(text);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

void skipBlanks(const QByteArray &pdf, qsizetype &at)
{
    while (at < pdf.size() && (pdf[at] == ' ' || pdf[at] == '\n' || pdf[at] == '\r'))
        ++at;
}

// A whole number of decimal digits at `at`, which is moved past it.
std::optional<qint64> number(const QByteArray &pdf, qsizetype &at)
{
    const qsizetype from = at;
    qint64 value = 0;
    while (at < pdf.size() && isDigit(pdf[at]) && at - from < 12)
        value = value * 10 + (pdf[at++] - '0');
    if (at == from || (at < pdf.size() && isDigit(pdf[at])))
        return std::nullopt;
    return value;
}

struct XrefEntry {
    qsizetype digitsAt; // where its ten digits of offset are
    qint64 offset;
};

// The in-use objects of the file's one cross-reference table, by number.
struct Xref {
    qsizetype at = 0;        // of the keyword "xref"
    qsizetype numberAt = 0;  // of startxref's number
    qsizetype numberEnd = 0; // past it
    std::map<int, XrefEntry> objects;
};

SwapRefusal readXref(const QByteArray &pdf, Xref &xref)
{
    const qsizetype start = pdf.lastIndexOf("startxref");
    if (start < 0)
        return "the file has no startxref";
    qsizetype at = start + 9;
    skipBlanks(pdf, at);
    xref.numberAt = at;
    const auto offset = number(pdf, at);
    xref.numberEnd = at;
    if (!offset || !holds(pdf, *offset, "xref"))
        return "startxref does not point at a cross-reference table";
    xref.at = *offset;
    at = xref.at + 4;
    for (;;) {
        skipBlanks(pdf, at);
        if (holds(pdf, at, "trailer")) {
            // Offsets in an earlier table, or in a stream beside this one,
            // would not be mended.
            const QByteArrayView trailer = QByteArrayView(pdf).sliced(at, start - at);
            if (trailer.contains("/Prev") || trailer.contains("/XRefStm"))
                return "the file has more than one cross-reference section";
            return std::nullopt;
        }
        const auto first = number(pdf, at);
        skipBlanks(pdf, at);
        const auto count = number(pdf, at);
        skipBlanks(pdf, at);
        if (!first || !count || *count > 1000000)
            return "the cross-reference table cannot be read";
        // Each entry is 20 bytes: offset, generation, kind, end of line.
        for (qint64 k = 0; k < *count; ++k, at += 20) {
            if (at + 20 > pdf.size() || pdf[at + 10] != ' ' || pdf[at + 16] != ' ')
                return "the cross-reference table cannot be read";
            qsizetype digits = at;
            const auto objectAt = number(pdf, digits);
            if (!objectAt || digits != at + 10)
                return "the cross-reference table cannot be read";
            if (pdf[at + 17] == 'n')
                xref.objects[int(*first + k)] = XrefEntry{at, *objectAt};
        }
    }
}

// Where a "N 0 obj" starts and its body begins.
std::optional<qsizetype> objectBody(const QByteArray &pdf, int object, qint64 offset)
{
    const QByteArray head = QByteArray::number(object) + " 0 obj";
    if (!holds(pdf, offset, head))
        return std::nullopt;
    qsizetype at = offset + head.size();
    skipBlanks(pdf, at);
    return at;
}

// Past the "endobj" at or after `at` (allowing for line ends) and its own line end.
std::optional<qsizetype> pastEndobj(const QByteArray &pdf, qsizetype at)
{
    skipBlanks(pdf, at);
    if (!holds(pdf, at, "endobj"))
        return std::nullopt;
    at += 6;
    if (holds(pdf, at, "\r\n"))
        return at + 2;
    if (holds(pdf, at, "\n") || holds(pdf, at, "\r"))
        return at + 1;
    return at;
}

struct Replacement {
    qsizetype from;
    qsizetype to;
    QByteArray bytes;
};

QByteArray hexColours(const QImage &printBitmap)
{
    static constexpr char kHex[] = "0123456789abcdef";
    QByteArray hex;
    for (const QRgb colour : printBitmap.colorTable())
        for (const int component : {qRed(colour), qGreen(colour), qBlue(colour)})
            hex.append(kHex[component >> 4]).append(kHex[component & 15]);
    return hex;
}

// The image object for `printBitmap` as object `number`, and object
// `lengthNumber` holding its stream's length.
struct ImageObjects {
    QByteArray image;
    QByteArray length;
};

ImageObjects indexedImageObjects(const QImage &printBitmap, int number, int lengthNumber, const QByteArray &pixels)
{
    const int width = printBitmap.width();
    const QByteArray head = QByteArray::number(number) + " 0 obj\n<<\n/Type /XObject\n/Subtype /Image\n/Width " +
                            QByteArray::number(width) + "\n/Height " + QByteArray::number(printBitmap.height()) +
                            "\n/BitsPerComponent 8\n/ColorSpace [/Indexed /DeviceRGB " +
                            QByteArray::number(printBitmap.colorCount() - 1) + " <" + hexColours(printBitmap) +
                            ">]\n/Length " + QByteArray::number(lengthNumber) +
                            " 0 R\n/Filter /FlateDecode\n>>\nstream\n";
    const QByteArray tail = "\nendstream\nendobj\n";
    ImageObjects objects;
    objects.length = QByteArray::number(lengthNumber) + " 0 obj\n" + QByteArray::number(pixels.size()) + "\nendobj\n";
    objects.image.reserve(head.size() + pixels.size() + tail.size());
    objects.image.append(head).append(pixels).append(tail);
    return objects;
}

} // namespace

void drawPictureStandIn(QPainter &painter, const QRect &target)
{
    if (target.isEmpty())
        return;
    // Not grey and not one bit deep, so the engine writes it as a plain
    // colour image drawn with no mask.
    QImage standIn(1, 1, QImage::Format_RGB32);
    standIn.fill(QColor(255, 0, 0));
    painter.drawImage(QRectF(target), standIn, QRectF(0, 0, 1, 1));
}

QByteArray deflatedIndices(const QImage &printBitmap)
{
    const int width = printBitmap.width();
    return deflateRows(printBitmap.height(), width, [&](int y, std::uint8_t *out) {
        std::memcpy(out, printBitmap.constScanLine(y), std::size_t(width));
    });
}

SwapRefusal replaceStandIn(QByteArray &pdf, const QImage &printBitmap, const QByteArray &deflated)
{
    if (printBitmap.format() != QImage::Format_Indexed8 || printBitmap.colorCount() < 1 ||
        printBitmap.colorCount() > 256)
        return "the picture is not 8-bit colour-mapped";
    const QByteArray imageMark = "/Subtype /Image";
    const qsizetype mark = pdf.indexOf(imageMark);
    if (mark < 0)
        return "the page holds no image";
    if (pdf.indexOf(imageMark, mark + 1) >= 0)
        return "the page holds more than one image";
    Xref xref;
    if (SwapRefusal refused = readXref(pdf, xref))
        return refused;

    // The image's object is the one that starts last before the mark.
    int image = -1;
    qint64 imageAt = -1;
    for (const auto &[object, entry] : xref.objects)
        if (entry.offset < mark && entry.offset > imageAt) {
            image = object;
            imageAt = entry.offset;
        }
    const auto body = objectBody(pdf, image, imageAt);
    const qsizetype streamAt = body ? pdf.indexOf("stream", *body) : -1;
    const qsizetype lengthKey = body ? pdf.indexOf("/Length ", *body) : -1;
    if (!body || streamAt < 0 || lengthKey < 0 || lengthKey > streamAt)
        return "the image is not the object the table says";

    // "/Length M 0 R", and object M holding the number.
    qsizetype at = lengthKey + 8;
    const auto lengthObject = number(pdf, at);
    if (!lengthObject || !holds(pdf, at, " 0 R"))
        return "the image's length is not an object of its own";
    const auto lengthEntry = xref.objects.find(int(*lengthObject));
    const auto lengthBody = lengthEntry == xref.objects.end()
                                ? std::nullopt
                                : objectBody(pdf, lengthEntry->first, lengthEntry->second.offset);
    if (!lengthBody)
        return "the image's length is not the object the table says";
    at = *lengthBody;
    const auto streamLength = number(pdf, at);
    const auto lengthEnd = streamLength ? pastEndobj(pdf, at) : std::nullopt;

    // The stream's data starts after the end of line that follows "stream".
    at = streamAt + 6;
    at += holds(pdf, at, "\r\n") ? 2 : 1;
    if (!lengthEnd || at + *streamLength > pdf.size() || !holds(pdf, at + *streamLength, "\nendstream"))
        return "the image's stream does not end where its length says";
    const auto imageEnd = pastEndobj(pdf, at + *streamLength + 10);
    const qint64 lengthAt = lengthEntry->second.offset;
    const bool apart = imageEnd && (*lengthEnd <= imageAt || lengthAt >= *imageEnd);
    if (!imageEnd || !apart || *imageEnd > xref.at || *lengthEnd > xref.at)
        return "the image and its length are not objects apart before the table";

    ImageObjects objects = indexedImageObjects(printBitmap, image, int(*lengthObject), deflated);
    std::vector<Replacement> replacements{{imageAt, *imageEnd, std::move(objects.image)},
                                          {lengthAt, *lengthEnd, std::move(objects.length)}};
    std::sort(replacements.begin(), replacements.end(),
              [](const Replacement &a, const Replacement &b) { return a.from < b.from; });
    const auto moved = [&](qint64 offset) {
        qint64 shift = 0;
        for (const Replacement &r : replacements)
            if (r.from < offset)
                shift += r.bytes.size() - (r.to - r.from);
        return offset + shift;
    };

    qsizetype size = pdf.size();
    for (const Replacement &r : replacements)
        size += r.bytes.size() - (r.to - r.from);
    QByteArray mended;
    mended.reserve(size + 16);
    qsizetype from = 0;
    for (const Replacement &r : replacements) {
        mended.append(QByteArrayView(pdf).sliced(from, r.from - from));
        mended.append(r.bytes);
        from = r.to;
    }
    mended.append(QByteArrayView(pdf).sliced(from, xref.numberAt - from));
    const qint64 shift = moved(xref.at) - xref.at;
    for (const auto &[object, entry] : xref.objects) {
        const QByteArray offset = QByteArray::number(moved(entry.offset)).rightJustified(10, '0');
        if (offset.size() != 10)
            return "an offset outgrows the table's ten digits";
        std::memcpy(mended.data() + entry.digitsAt + shift, offset.constData(), 10);
    }
    mended.append(QByteArray::number(moved(xref.at)));
    mended.append(QByteArrayView(pdf).sliced(xref.numberEnd));
    pdf = std::move(mended);
    return std::nullopt;
}

QByteArray pageWithPicture(const PageDrawing &drawPage, const QImage &printBitmap,
                           const std::function<QByteArray()> &deflated, std::ostream &notes)
{
    bool standIn = false;
    QByteArray pdf = drawPage([&standIn](QPainter &painter, const QRect &target, const QImage &) {
        drawPictureStandIn(painter, target);
        standIn = !target.isEmpty();
    });
    if (!standIn)
        return pdf;
    const SwapRefusal refused = replaceStandIn(pdf, printBitmap, deflated());
    if (!refused)
        return pdf;
    notes << "The PDF page's picture is drawn the slow way: " << *refused << std::endl;
    pdf.clear(); // room for the page drawn again
    return drawPage(drawPictureInBands);
}

} // namespace terralume::print
