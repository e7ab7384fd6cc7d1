#include "JpegRoundTrip.h"
#include "MapPrinter.h"
#include "PageComposer.h"
#include "PrintError.h"
#include "TestMaps.h"
#include "ToolRun.h"

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace terralume;
using namespace terralume::print;

namespace {

const DateSeparators kCommon;

PageDescription medium()
{
    return PageDescription{QStringLiteral("Terralume - Isles of Test"), QStringLiteral("Medium"), -5, 10,
                           QDateTime(QDate(2026, 3, 7), QTime(9, 5))};
}

// The PDF page written to `fileName` for poppler's tools; the PrintBitmap
// drawn, or a null image when the file could not be written.
QImage writePdf(const QString &fileName, const QImage &view, const PageDescription &page,
                const PdfOptions &options = {})
{
    QImage printBitmap;
    const QByteArray bytes = composePdfBytes(view, page, options, &printBitmap);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QImage();
    return printBitmap;
}

// Whether page pixel (x, y) of `rect` shows the PrintBitmap pixel under it or
// one of that pixel's neighbours (stretching may round either way).
bool showsBitmapAt(QRgb shown, const QImage &bitmap, const QRect &rect, int x, int y)
{
    const int sx = int((x - rect.left() + 0.5) * bitmap.width() / rect.width());
    const int sy = int((y - rect.top() + 0.5) * bitmap.height() / rect.height());
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const int bx = std::clamp(sx + dx, 0, bitmap.width() - 1), by = std::clamp(sy + dy, 0, bitmap.height() - 1);
            if (bitmap.pixel(bx, by) == shown)
                return true;
        }
    return false;
}

// Composes into a grey raster page so that everything the page paints shows.
QImage grey(int width, int height)
{
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(QColor(128, 128, 128));
    return page;
}

// The caption of a 97-character title, and one of 97 of the widest letter.
const QString kLongCaption = QStringLiteral("Terralume - The Great Northern Archipelago, its Inland Seas and the Long "
                                            "Southern Shore as seen from the West");
const QString kWideCaption = QStringLiteral("Terralume - ") + QString(97, u'W');

// How a title comes out on the page.
enum class Fit { AsDesigned, Smaller, Cut };

} // namespace

Q_DECLARE_METATYPE(Fit)

class PageComposition : public QObject {
    Q_OBJECT

private slots:
    void titlePictureAndFooterLandWhereTheLayoutSays();
    void secondPageOnTheSamePainterIsTheSame();
    void landscapePictureEndsAboveTheFooter();
    void onlyAConvertedPictureIsComposed();
    void pdfEmbedsPrintBitmapWithoutLoss_data();
    void pdfEmbedsPrintBitmapWithoutLoss();
    void pdfCarriesTitleAndFooterText();
    void titleStaysWithinThePage_data();
    void titleStaysWithinThePage();
    void pdfTitleStaysWithinThePrintableArea();
};

void PageComposition::titlePictureAndFooterLandWhereTheLayoutSays()
{
    const QImage bitmap = ReJigPallete(maps::mapView("Small", 0, 0, 2));
    QImage page = grey(1200, 1700);
    QPainter painter(&page);
    const PageLayout layout = composePage(painter, page.width(), page.height(), 150, medium(), bitmap, kCommon);
    painter.end();

    QFont title(kPrintFontFamily);
    title.setPixelSize(25); // 12 points at 150 dpi
    const QFontMetrics metrics(title, &page);
    QCOMPARE(layout.titleHeight, metrics.height());
    const int titleWidth = metrics.horizontalAdvance(medium().caption);
    QCOMPARE(layout.title, QRect((1200 - titleWidth) / 2, layout.titleHeight, titleWidth, metrics.height()));
    QCOMPARE(layout.picture, QRect(120, 3 * layout.titleHeight, 960, 960));
    QCOMPARE(layout.footerAt.x(), 120);
    QCOMPARE(layout.footerAt.y() + layout.footerHeight, 1700);

    // The picture's pixels are PrintBitmap's colours, unblended.
    int mismatches = 0;
    for (int y = layout.picture.top(); y <= layout.picture.bottom(); y += 7)
        for (int x = layout.picture.left(); x <= layout.picture.right(); x += 7)
            mismatches += !showsBitmapAt(page.pixel(x, y), bitmap, layout.picture, x, y);
    QCOMPARE(mismatches, 0);
    // Grey left and right of the picture and between title and picture.
    QCOMPARE(page.pixel(layout.picture.left() - 2, layout.picture.center().y()), qRgb(128, 128, 128));
    QCOMPARE(page.pixel(layout.picture.right() + 2, layout.picture.center().y()), qRgb(128, 128, 128));
    QCOMPARE(page.pixel(600, layout.picture.top() - 3), qRgb(128, 128, 128));
    // Text sits on an opaque white cell: its first column is white, not grey.
    QCOMPARE(page.pixel(layout.title.left(), layout.title.top() + 1), qRgb(255, 255, 255));
    QCOMPARE(page.pixel(layout.footerAt.x(), layout.footerAt.y() + 1), qRgb(255, 255, 255));
    // ...and it really wrote something dark in the title cell.
    int dark = 0;
    for (int x = layout.title.left(); x <= layout.title.right(); ++x)
        for (int y = layout.title.top(); y <= layout.title.bottom(); ++y)
            dark += qGray(page.pixel(x, y)) < 64;
    QVERIFY(dark > 100);
}

void PageComposition::secondPageOnTheSamePainterIsTheSame()
{
    // The first page leaves the painter with the 8-point footer font; the
    // second title must still come out at 12 points.
    const QImage bitmap = ReJigPallete(maps::mapView("Small"));
    QImage first = grey(900, 1300), second = grey(900, 1300);
    QPainter painter(&first);
    const PageLayout a = composePage(painter, 900, 1300, 120, medium(), bitmap, kCommon);
    const QFont leftOver = painter.font();
    painter.end();
    painter.begin(&second);
    painter.setFont(leftOver);
    painter.setBackgroundMode(Qt::TransparentMode);
    const PageLayout b = composePage(painter, 900, 1300, 120, medium(), bitmap, kCommon);
    painter.end();
    QVERIFY(a.titleHeight > a.footerHeight);
    QCOMPARE(b.titleHeight, a.titleHeight);
    QCOMPARE(b.picture, a.picture);
    QVERIFY(first == second);
}

void PageComposition::landscapePictureEndsAboveTheFooter()
{
    const QImage bitmap = ReJigPallete(maps::mapView("Small"));
    QImage page = grey(1650, 1275); // Letter across at 150 dpi
    QPainter painter(&page);
    const PageLayout layout = composePage(painter, page.width(), page.height(), 150, medium(), bitmap, kCommon);
    painter.end();
    QCOMPARE(layout.picture.bottom() + 1, layout.footerAt.y());
    QCOMPARE(layout.picture.width(), layout.picture.height());
    QCOMPARE(layout.picture.left(), (1650 - layout.picture.width()) / 2);
    // The footer line is not painted over by the picture.
    QCOMPARE(page.pixel(layout.footerAt.x(), layout.footerAt.y() + 1), qRgb(255, 255, 255));
}

void PageComposition::onlyAConvertedPictureIsComposed()
{
    QImage page = grey(100, 100);
    QPainter painter(&page);
    for (const QImage &wrong : {QImage(), maps::mapView("Small")}) {
        try {
            composePage(painter, 100, 100, 72, medium(), wrong, kCommon);
            QFAIL("composed a page from a picture that was not converted");
        } catch (const PrintError &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("There is no converted picture to print"));
        }
    }
    QCOMPARE(page.pixel(50, 50), qRgb(128, 128, 128));
}

void PageComposition::pdfEmbedsPrintBitmapWithoutLoss_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<bool>("landscape");
    QTest::newRow("Small x1") << "Small" << 1 << false;
    // Over a million pixels, which Qt's engine alone would have cut in bands.
    QTest::newRow("Medium x2, landscape") << "Medium" << 2 << true;
}

void PageComposition::pdfEmbedsPrintBitmapWithoutLoss()
{
    QFETCH(QString, size);
    QFETCH(int, zoom);
    QFETCH(bool, landscape);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    const QImage bitmap =
        writePdf(pdf, maps::mapView(size.toStdString(), -5, 10, zoom), medium(), PdfOptions{Paper::Letter, landscape});
    QVERIFY(!bitmap.isNull());

    // One image of the whole picture, its indices under PrintBitmap's colours.
    bool ok = false;
    const QList<QByteArray> list =
        tools::run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}, &ok).trimmed().split('\n');
    QVERIFY(ok);
    QCOMPARE(list.size(), 3); // two heading lines
    const QList<QByteArray> fields = list[2].simplified().split(' ');
    QCOMPARE(fields.mid(3, 5), (QList<QByteArray>{QByteArray::number(bitmap.width()),
                                                  QByteArray::number(bitmap.height()), "index", "1", "8"}));

    tools::run(QStringLiteral("pdfimages"), {QStringLiteral("-png"), pdf, dir.filePath(QStringLiteral("img"))}, &ok);
    QVERIFY(ok);
    const QImage extracted = QImage(dir.filePath(QStringLiteral("img-000.png"))).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(extracted.size(), bitmap.size());
    QVERIFY(extracted == bitmap.convertToFormat(QImage::Format_RGB32));

    const QByteArray info = tools::run(QStringLiteral("pdfinfo"), {pdf}, &ok);
    QVERIFY(ok);
    QVERIFY2(info.contains(landscape ? "792 x 612 pts" : "612 x 792 pts"), info.constData());
    QVERIFY(QString::fromUtf8(info).contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))));
}

void PageComposition::pdfCarriesTitleAndFooterText()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    QVERIFY(!writePdf(pdf, maps::mapView("Small"), medium()).isNull());
    bool ok = false;
    const QString text = QString::fromUtf8(tools::run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}, &ok));
    QVERIFY(ok);
    QVERIFY2(text.contains(medium().caption), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Size - Medium, Water Level - -5, Heat Level - 10")), qPrintable(text));
    QVERIFY(text.contains(kFooterNotice));
    const DateSeparators local = separatorsOf(QLocale::system());
    const QString date = QStringLiteral("3") + QRegularExpression::escape(local.date) + QStringLiteral("7") +
                         QRegularExpression::escape(local.date) + QStringLiteral("26\\s+9") +
                         QRegularExpression::escape(local.time) + QStringLiteral("05");
    QVERIFY2(text.contains(QRegularExpression(date)), qPrintable(text));
}

void PageComposition::titleStaysWithinThePage_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("page");
    QTest::addColumn<Fit>("fit");
    // Printable areas at 150 dpi, a quarter inch in from the paper's edges.
    const QSize a4(1165, 1679), letter(1200, 1575);
    QTest::newRow("short, A4") << medium().caption << a4 << Fit::AsDesigned;
    QTest::newRow("97 characters, A4") << kLongCaption << a4 << Fit::Smaller;
    QTest::newRow("97 characters, Letter") << kLongCaption << letter << Fit::Smaller;
    QTest::newRow("97 characters, A4 across") << kLongCaption << a4.transposed() << Fit::AsDesigned;
    QTest::newRow("97 W, A4") << kWideCaption << a4 << Fit::Cut;
    QTest::newRow("97 W, A4 across") << kWideCaption << a4.transposed() << Fit::Smaller; // just, at the footer's size
    QTest::newRow("97 W, Letter across") << kWideCaption << letter.transposed() << Fit::Cut;
}

// Composed in the middle of a canvas three pages wide, where anything drawn
// past the page's edges shows.
void PageComposition::titleStaysWithinThePage()
{
    QFETCH(QString, caption);
    QFETCH(QSize, page);
    QFETCH(Fit, fit);
    QImage canvas = grey(3 * page.width(), page.height());
    QPainter painter(&canvas);
    painter.translate(page.width(), 0);
    PageDescription description = medium();
    description.caption = caption;
    const QImage bitmap = ReJigPallete(maps::mapView("Small"));
    const PageLayout layout = composePage(painter, page.width(), page.height(), 150, description, bitmap, kCommon);
    painter.end();

    QVERIFY(layout.title.left() >= 0 && layout.title.right() < page.width());
    int outside = 0, inked = 0;
    for (int y = 0; y < layout.picture.top(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            const bool onPage = x >= page.width() && x < 2 * page.width();
            outside += !onPage && canvas.pixel(x, y) != qRgb(128, 128, 128);
            inked += onPage && qGray(canvas.pixel(x, y)) < 64;
        }
    QCOMPARE(outside, 0);
    QVERIFY(inked > 100);
    // Never below the footer's size; cut there, it fills the width but for a letter.
    QCOMPARE(layout.title.height() == layout.titleHeight, fit == Fit::AsDesigned);
    QVERIFY(layout.title.height() >= layout.footerHeight);
    if (fit == Fit::Cut)
        QVERIFY(layout.title.height() == layout.footerHeight &&
                layout.title.width() > page.width() - layout.footerHeight);
}

// Every word's box, as poppler reads the file, lies within the printable
// area, and the title too wide even at the footer's size ends in "…".
void PageComposition::pdfTitleStaysWithinThePrintableArea()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    PageDescription page = medium();
    page.caption = kWideCaption;
    QVERIFY(!writePdf(pdf, maps::mapView("Small"), page, PdfOptions{Paper::Letter, false}).isNull());
    bool ok = false;
    const QString boxes = QString::fromUtf8(
        tools::run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")}, &ok));
    QVERIFY(ok);
    const QRegularExpression wordBox(
        QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"[0-9.]+\" xMax=\"([0-9.]+)\" yMax=\"[0-9.]+\">([^<]*)</word>"));
    const double margin = kPdfMarginMillimetres / 25.4 * 72, slack = 0.5;
    QStringList words;
    for (auto found = wordBox.globalMatch(boxes); found.hasNext();) {
        const QRegularExpressionMatch word = found.next();
        QVERIFY2(word.captured(1).toDouble() >= margin - slack, qPrintable(word.captured(3)));
        QVERIFY2(word.captured(2).toDouble() <= 612 - margin + slack, qPrintable(word.captured(3)));
        words << word.captured(3);
    }
    QVERIFY(words.size() > 3);
    const QString title = words.mid(0, 3).join(u' ');
    QVERIFY2(title.endsWith(u'…') && kWideCaption.startsWith(title.chopped(1)), qPrintable(title));
}

QTEST_MAIN(PageComposition)
#include "PageCompositionTest.moc"
