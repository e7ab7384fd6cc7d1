// The stand-in swapped for PrintBitmap's own image leaves a file whose every
// cross-reference points at its object, and a file not of the form looked
// for is left as it was.
#include "PdfImage.h"

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QtTest>

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

// The image's stream length written in its dictionary, as other writers may.
QByteArray directLength(QByteArray pdf)
{
    const qsizetype at = pdf.indexOf("/Length ", pdf.indexOf("/Subtype /Image"));
    const qsizetype end = pdf.indexOf(" 0 R", at);
    return pdf.replace(at, end + 4 - at, "/Length 9");
}

qint64 numberAfter(const QByteArray &pdf, const QByteArray &key, qsizetype from = 0)
{
    const qsizetype at = pdf.indexOf(key, from);
    return at < 0 ? -1 : pdf.mid(at + key.size()).split('\n').first().split(' ').first().toLongLong();
}

} // namespace

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
        QVERIFY(replaceStandIn(pdf, picture));

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
        const QImage good = indexed(5, 4, 3);
        QTest::newRow("no image") << page(0, 0) << good;
        QTest::newRow("two stand-ins") << page(2, 0) << good;
        QTest::newRow("another image beside") << page(1, 1) << good;
        QTest::newRow("no startxref") << page(1, 0).replace("startxref", "startXref") << good;
        QTest::newRow("startxref off the table") << page(1, 0).replace("startxref\n", "startxref\n1") << good;
        QTest::newRow("length not an object") << directLength(page(1, 0)) << good;
        QTest::newRow("a picture not indexed") << page(1, 0) << good.convertToFormat(QImage::Format_RGB32);
        QTest::newRow("a picture of no colours") << page(1, 0) << QImage(5, 4, QImage::Format_Indexed8);
    }

    void fileNotOfTheFormIsLeftAsItWas()
    {
        QFETCH(QByteArray, pdf);
        QFETCH(QImage, picture);
        QByteArray changed = pdf;
        QVERIFY(!replaceStandIn(changed, picture));
        QCOMPARE(changed, pdf);
    }
};

QTEST_MAIN(PdfImage)
#include "PdfImageTest.moc"
