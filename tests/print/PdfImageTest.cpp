// The stand-in swapped for PrintBitmap's own image leaves a file whose every
// cross-reference points at its object, a file not of the form looked for is
// left as it was, and a page whose file is of another form still comes out
// whole with its picture, drawn by Qt.
#include "PdfImage.h"
#include "ToolRun.h"

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <sstream>

#include <zlib.h>

using namespace terralume::print;

namespace {

// An indexed picture of `colours` colours, pixel (x, y) of index (x + 3y) % colours.
QImage indexed(int width, int height, int colours)
{
    QImage picture(width, height, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int k = 0; k < colours; ++k)
        table.append(qRgb(k, 255 - k, (k * 7) & 255));
    picture.setColorTable(table);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.scanLine(y)[x] = uchar((x + 3 * y) % colours);
    return picture;
}

// A page as Qt writes it: text, then `standIns` stand-ins, then
// `otherImages` ordinary images, then more text.
QByteArray page(int standIns, int otherImages)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(300);
    QPainter painter(&writer);
    painter.drawText(QPoint(100, 100), QStringLiteral("Above"));
    for (int k = 0; k < standIns; ++k)
        drawPictureStandIn(painter, QRect(100, 200 + 300 * k, 400, 250));
    for (int k = 0; k < otherImages; ++k) {
        QImage other(3, 2, QImage::Format_RGB32);
        other.fill(QColor(k * 40, 200, 10));
        painter.drawImage(QRect(600, 200 + 300 * k, 60, 40), other);
    }
    painter.drawText(QPoint(100, 2000), QStringLiteral("Below"));
    painter.end();
    return bytes;
}

qint64 numberAfter(const QByteArray &pdf, const QByteArray &key, qsizetype from = 0);

// The image's stream length written in its dictionary, as other writers
// may, every byte after it where it was.
QByteArray directLength(QByteArray pdf)
{
    const qsizetype at = pdf.indexOf("/Length ", pdf.indexOf("/Subtype /Image")) + 8;
    const qsizetype end = pdf.indexOf(" 0 R", at) + 4;
    const QByteArray object = pdf.mid(at, end - 4 - at);
    const QByteArray length = QByteArray::number(numberAfter(pdf, "\n" + object + " 0 obj\n"));
    return pdf.replace(at, end - at, length.leftJustified(end - at, ' '));
}

qint64 numberAfter(const QByteArray &pdf, const QByteArray &key, qsizetype from)
{
    const qsizetype at = pdf.indexOf(key, from);
    return at < 0 ? -1 : pdf.mid(at + key.size()).split('\n').first().split(' ').first().toLongLong();
}


// The file as qpdf rewrites it with `options`.
QByteArray rewritten(const QByteArray &pdf, const QStringList &options)
{
    QTemporaryDir dir;
    QFile in(dir.filePath(QStringLiteral("in.pdf")));
    if (!in.open(QIODevice::WriteOnly) || in.write(pdf) != pdf.size())
        return {};
    in.close();
    bool ok = false;
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    tools::run(QStringLiteral("qpdf"), options + QStringList{in.fileName(), out}, &ok);
    QFile result(out);
    return ok && result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
}

// A cross-reference stream, most objects packed into object streams.
QByteArray objectStreams(const QByteArray &pdf)
{
    return rewritten(pdf, {QStringLiteral("--object-streams=generate")});
}

// One table, every stream's length written in its own dictionary.
QByteArray directLengths(const QByteArray &pdf)
{
    return rewritten(pdf, {QStringLiteral("--object-streams=disable")});
}

// A second revision appended, as an editor saves in place: the document
// information anew, and a table that lists every object (most where they
// were) with /Prev to the first.
QByteArray laterRevision(QByteArray pdf)
{
    const qint64 table = numberAfter(pdf, "startxref\n", pdf.lastIndexOf("startxref"));
    const int count = int(numberAfter(pdf, "xref\n0 ", table));
    QByteArray entries = pdf.mid(pdf.indexOf('\n', table + 5) + 1, 20 * count);
    const QByteArray info = QByteArray::number(numberAfter(pdf, "/Info ", table));
    const QByteArray root = QByteArray::number(numberAfter(pdf, "/Root ", table));
    entries.replace(20 * info.toInt(), 10, QByteArray::number(pdf.size()).rightJustified(10, '0'));
    pdf += info + " 0 obj\n<<\n/Producer (a later revision)\n>>\nendobj\n";
    const QByteArray newTable = QByteArray::number(pdf.size());
    pdf += "xref\n0 " + QByteArray::number(count) + "\n" + entries + "trailer\n<<\n/Size " + QByteArray::number(count) +
           "\n/Info " + info + " 0 R\n/Root " + root + " 0 R\n/Prev " + QByteArray::number(table) +
           "\n>>\nstartxref\n" + newTable + "\n%%EOF\n";
    return pdf;
}

enum class Form { AsQtWrites, ObjectStreams, DirectLengths, LaterRevision };

QByteArray inForm(const QByteArray &pdf, Form form)
{
    switch (form) {
    case Form::AsQtWrites:
        return pdf;
    case Form::ObjectStreams:
        return objectStreams(pdf);
    case Form::DirectLengths:
        return directLengths(pdf);
    case Form::LaterRevision:
        return laterRevision(pdf);
    }
    return {};
}

// The printed page of `picture` on a PDF writer, its picture drawn by `drawPicture`.
QByteArray composed(const QImage &picture, const PictureDrawer &drawPicture)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(150);
    QPainter painter(&writer);
    const PageDescription page{QStringLiteral("Terralume - Form"), QStringLiteral("Small"), 3, -4,
                               QDateTime(QDate(2026, 3, 7), QTime(9, 5))};
    composePage(painter, writer.width(), writer.height(), writer.logicalDpiY(), page, picture, DateSeparators{},
                drawPicture);
    painter.end();
    return bytes;
}
} // namespace

Q_DECLARE_METATYPE(Form)

class PdfImage : public QObject {
    Q_OBJECT
private slots:
    void standInBecomesThePicture_data()
    {
        QTest::addColumn<QImage>("picture");
        QTest::newRow("one pixel, one colour") << indexed(1, 1, 1);
        QTest::newRow("wide, two colours") << indexed(300, 7, 2);
        QTest::newRow("tall, a whole palette") << indexed(7, 300, 256);
        QTest::newRow("several megabytes, cut between threads") << indexed(2000, 1500, 236);
    }

    void standInBecomesThePicture()
    {
        QFETCH(QImage, picture);
        QByteArray pdf = page(1, 0);
        const SwapRefusal refused = replaceStandIn(pdf, picture, deflatedIndices(picture));
        QVERIFY2(!refused, refused.value_or("").c_str());

        // Every object the table lists starts where it says, and so does the table.
        const qint64 xref = numberAfter(pdf, "startxref\n", pdf.lastIndexOf("startxref"));
        QVERIFY(pdf.mid(xref).startsWith("xref\n0 "));
        const int objects = int(numberAfter(pdf, "xref\n0 "));
        QVERIFY(objects > 5);
        const qsizetype table = pdf.indexOf('\n', xref + 5) + 1;
        for (int k = 1; k < objects; ++k) {
            const QByteArray entry = pdf.mid(table + 20 * k, 20);
            QVERIFY2(entry.endsWith(" 00000 n \n"), entry.constData());
            QVERIFY2(pdf.mid(entry.left(10).toLongLong()).startsWith(QByteArray::number(k) + " 0 obj\n"),
                     qPrintable(QStringLiteral("object %1").arg(k)));
        }

        // The one image: the picture's size, its colours, its indices.
        const qsizetype image = pdf.indexOf("/Subtype /Image");
        QCOMPARE(pdf.indexOf("/Subtype /Image", image + 1), -1);
        QCOMPARE(numberAfter(pdf, "/Width ", image), picture.width());
        QCOMPARE(numberAfter(pdf, "/Height ", image), picture.height());
        QByteArray colours;
        for (const QRgb c : picture.colorTable())
            colours += QByteArray(1, char(qRed(c))) + char(qGreen(c)) + char(qBlue(c));
        QVERIFY(pdf.contains("/ColorSpace [/Indexed /DeviceRGB " + QByteArray::number(picture.colorCount() - 1) + " <" +
                             colours.toHex() + ">]"));
        const int lengthObject = int(numberAfter(pdf, "/Length ", image));
        const qint64 length = numberAfter(pdf, QByteArray::number(lengthObject) + " 0 obj\n");
        const qsizetype data = pdf.indexOf("stream\n", image) + 7;
        QVERIFY(pdf.mid(data + length).startsWith("\nendstream\nendobj\n"));
        QByteArray pixels(picture.width() * picture.height(), '\0');
        uLongf size = uLongf(pixels.size());
        QCOMPARE(uncompress(reinterpret_cast<Bytef *>(pixels.data()), &size,
                            reinterpret_cast<const Bytef *>(pdf.constData() + data), uLong(length)),
                 Z_OK);
        for (int y = 0; y < picture.height(); ++y)
            QVERIFY(pixels.mid(y * picture.width(), picture.width()) ==
                    QByteArrayView(picture.constScanLine(y), picture.width()));
    }

    void fileNotOfTheFormIsLeftAsItWas_data()
    {
        QTest::addColumn<QByteArray>("pdf");
        QTest::addColumn<QImage>("picture");
        QTest::addColumn<QString>("why");
        const QImage good = indexed(5, 4, 3);
        QTest::newRow("no image") << page(0, 0) << good << "no image";
        QTest::newRow("two stand-ins") << page(2, 0) << good << "more than one image";
        QTest::newRow("another image beside") << page(1, 1) << good << "more than one image";
        QTest::newRow("no startxref") << page(1, 0).replace("startxref", "startXref") << good << "no startxref";
        QTest::newRow("startxref off the table")
            << page(1, 0).replace("startxref\n", "startxref\n1") << good << "not point at a cross-reference table";
        QTest::newRow("a cross-reference stream")
            << objectStreams(page(1, 0)) << good << "not point at a cross-reference table";
        QTest::newRow("a later revision") << laterRevision(page(1, 0)) << good << "more than one cross-reference";
        QTest::newRow("length not an object") << directLength(page(1, 0)) << good << "not an object of its own";
        QTest::newRow("a picture not indexed")
            << page(1, 0) << good.convertToFormat(QImage::Format_RGB32) << "not 8-bit colour-mapped";
        QTest::newRow("a picture of no colours")
            << page(1, 0) << QImage(5, 4, QImage::Format_Indexed8) << "not 8-bit colour-mapped";
    }

    void fileNotOfTheFormIsLeftAsItWas()
    {
        QFETCH(QByteArray, pdf);
        QFETCH(QImage, picture);
        QFETCH(QString, why);
        QVERIFY(pdf.startsWith("%PDF-"));
        QByteArray changed = pdf;
        const SwapRefusal refused = replaceStandIn(changed, picture, deflatedIndices(picture));
        QVERIFY(refused);
        QVERIFY2(QString::fromStdString(*refused).contains(why), refused->c_str());
        QCOMPARE(changed, pdf);
    }

    // Whatever form the engine writes its file in, the page comes out whole
    // with the picture's pixels: swapped in where the form allows, drawn by
    // Qt where not, and then one line says why.
    void pageHoldsThePictureWhateverTheForm_data()
    {
        QTest::addColumn<Form>("form");
        QTest::addColumn<QByteArray>("colours"); // of the one image, as pdfimages lists it
        QTest::newRow("as Qt writes it") << Form::AsQtWrites << QByteArray("index");
        QTest::newRow("object streams") << Form::ObjectStreams << QByteArray("rgb");
        QTest::newRow("lengths in the dictionaries") << Form::DirectLengths << QByteArray("rgb");
        QTest::newRow("a later revision") << Form::LaterRevision << QByteArray("rgb");
    }

    void pageHoldsThePictureWhateverTheForm()
    {
        QFETCH(Form, form);
        QFETCH(QByteArray, colours);
        const QImage picture = indexed(300, 200, 236);
        std::ostringstream notes;
        int drawings = 0;
        const QByteArray pdf = pageWithPicture(
            [&](const PictureDrawer &drawPicture) {
                ++drawings;
                return inForm(composed(picture, drawPicture), form);
            },
            picture, [&picture] { return deflatedIndices(picture); }, notes);
        const bool swapped = form == Form::AsQtWrites;
        QCOMPARE(drawings, swapped ? 1 : 2);
        const QString note = QString::fromStdString(notes.str());
        QCOMPARE(note.count(QLatin1Char('\n')), swapped ? 0 : 1);
        QVERIFY(note.isEmpty() || note.endsWith(QLatin1Char('\n')));

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("page.pdf"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(pdf) == pdf.size());
        out.close();
        bool ok = false;
        tools::run(QStringLiteral("qpdf"), {QStringLiteral("--check"), file}, &ok);
        QVERIFY(ok);
        const QList<QByteArray> list =
            tools::run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), file}, &ok).trimmed().split('\n');
        QVERIFY(ok);
        QCOMPARE(list.size(), 3); // two heading lines
        QCOMPARE(list[2].simplified().split(' ').mid(3, 3),
                 (QList<QByteArray>{QByteArray::number(picture.width()), QByteArray::number(picture.height()),
                                    colours}));
        tools::run(QStringLiteral("pdfimages"), {QStringLiteral("-png"), file, dir.filePath(QStringLiteral("img"))},
                   &ok);
        QVERIFY(ok);
        QCOMPARE(QImage(dir.filePath(QStringLiteral("img-000.png"))).convertToFormat(QImage::Format_RGB32),
                 picture.convertToFormat(QImage::Format_RGB32));
    }
};

QTEST_MAIN(PdfImage)
#include "PdfImageTest.moc"
