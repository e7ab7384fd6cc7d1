#include "PageComposer.h"

#include "MapPicture.h"
#include "PrintError.h"

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <utility>

namespace terralume::print {

PageDescription pageFor(const QString &title, const QString &sizeName, int waterPosition, int heatPosition)
{
    return PageDescription{mapCaption(title), sizeName, waterPosition, heatPosition, {}};
}

int MulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    const std::int64_t product = std::int64_t{number} * numerator;
    std::int64_t quotient = product / denominator;
    const std::int64_t remainder = product % denominator;
    if (2 * std::llabs(remainder) >= std::llabs(std::int64_t{denominator}))
        quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
    if (quotient > std::numeric_limits<int>::max() || quotient < std::numeric_limits<int>::min())
        return -1;
    return static_cast<int>(quotient);
}

int CentredX(int pageWidth, int textWidth)
{
    return (pageWidth - textWidth) / 2; // C++ division truncates toward zero
}

QRect pictureRect(int pageWidth, int pageHeight, int titleHeight, int footerHeight, QSize bitmap)
{
    const int left = MulDiv(pageWidth, 10, 100);
    const int width = MulDiv(pageWidth, 80, 100);
    const int top = 3 * titleHeight;
    if (bitmap.width() <= 0 || bitmap.height() <= 0)
        return QRect(left, top, width, 0);
    const int height = static_cast<int>(std::int64_t{width} * bitmap.height() / bitmap.width());
    const int room = std::max(0, pageHeight - footerHeight - top);
    if (height <= room)
        return QRect(left, top, width, height);
    const int scaledWidth = static_cast<int>(std::int64_t{room} * bitmap.width() / bitmap.height());
    return QRect(CentredX(pageWidth, scaledWidth), top, scaledWidth, room);
}

namespace {

// The first character of a format that is neither a field letter, a blank
// nor part of a quoted literal.
QString firstSeparator(const QString &format, const QString &fallback)
{
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (!quoted && !c.isLetter() && !c.isSpace())
            return QString(c);
    }
    return fallback;
}

QString twoDigits(int value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

} // namespace

DateSeparators separatorsOf(const QLocale &locale)
{
    const DateSeparators common;
    return DateSeparators{firstSeparator(locale.dateFormat(QLocale::ShortFormat), common.date),
                          firstSeparator(locale.timeFormat(QLocale::ShortFormat), common.time)};
}

QString footerDate(const QDateTime &when, const DateSeparators &separators)
{
    const QDate date = when.date();
    const QTime time = when.time();
    return QString::number(date.month()) + separators.date + QString::number(date.day()) + separators.date +
           twoDigits(((date.year() % 100) + 100) % 100) + QStringLiteral("  ") + QString::number(time.hour()) +
           separators.time + twoDigits(time.minute());
}

QString footerText(const PageDescription &page, const DateSeparators &separators)
{
    return QStringLiteral("Size - ") + page.sizeName + QStringLiteral(", Water Level - ") +
           QString::number(page.waterPosition) + QStringLiteral(", Heat Level - ") +
           QString::number(page.heatPosition) + QStringLiteral("   ") + kFooterNotice + QStringLiteral("  ") +
           footerDate(page.printedAt, separators);
}

namespace {

QFont printFont(int points, int dotsPerInchY)
{
    QFont font;
    font.setFamilies(QStringList{kPrintFontFamily} + kPrintFontFallbacks);
    font.setPixelSize(std::max(1, MulDiv(points, dotsPerInchY, 72)));
    return font;
}

// The caption in `font` when it fits the page's width, else smaller down to
// `smallestPixels`, so that it reads no smaller than the footer, then cut.
std::pair<QFont, QString> fittedTitle(const QString &caption, int pageWidth, QFont font, int smallestPixels,
                                      QPaintDevice *device)
{
    // Widths grow about in step with the size, but hinting rounds each glyph.
    const int width = QFontMetrics(font, device).horizontalAdvance(caption);
    if (width > pageWidth)
        font.setPixelSize(
            std::max(smallestPixels, static_cast<int>(std::int64_t{font.pixelSize()} * pageWidth / width)));
    while (font.pixelSize() > smallestPixels && QFontMetrics(font, device).horizontalAdvance(caption) > pageWidth)
        font.setPixelSize(font.pixelSize() - 1);
    return {font, QFontMetrics(font, device).elidedText(caption, Qt::ElideRight, pageWidth)};
}

} // namespace

void requirePrintFont()
{
    // With no face at all Qt measures and draws in a stand-in with no name
    // and no glyphs.
    if (QFontInfo(printFont(kFooterPoints, 72)).family().isEmpty())
        throw PrintError("There is no font for the page's text: " + kPrintFontFamily.toStdString() +
                         " is not installed, nor any font to stand in for it");
}

// Every band is its own image on the page, so the device never needs a
// 32-bit copy of the whole picture at once (a 5120-square view would take
// over 100 MB).
void drawPictureInBands(QPainter &painter, const QRect &target, const QImage &picture)
{
    if (target.isEmpty() || picture.width() <= 0)
        return;
    const int rowsPerBand = std::max(1, (1 << 20) / picture.width());
    const qreal scaleY = qreal(target.height()) / picture.height();
    for (int y = 0; y < picture.height(); y += rowsPerBand) {
        const int rows = std::min(rowsPerBand, picture.height() - y);
        const QRectF band(target.left(), target.top() + y * scaleY, target.width(), rows * scaleY);
        painter.drawImage(band, picture, QRectF(0, y, picture.width(), rows));
    }
}

PageLayout composePage(QPainter &painter, int pageWidth, int pageHeight, int dotsPerInchY, const PageDescription &page,
                       const QImage &printBitmap, const DateSeparators &separators, const PictureDrawer &drawPicture)
{
    if (printBitmap.isNull() || printBitmap.format() != QImage::Format_Indexed8)
        throw PrintError("There is no converted picture to print");
    requirePrintFont();

    // Qt's PDF and print engines would otherwise store the picture as JPEG.
    painter.setRenderHint(QPainter::LosslessImageRendering, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::white);
    painter.setPen(Qt::black);

    PageLayout layout;
    layout.pageWidth = pageWidth;
    layout.pageHeight = pageHeight;

    const QFont titleFont = printFont(kTitlePoints, dotsPerInchY);
    const QFont footerFont = printFont(kFooterPoints, dotsPerInchY);
    layout.titleHeight = QFontMetrics(titleFont, painter.device()).height();
    const auto [fittedFont, title] =
        fittedTitle(page.caption, pageWidth, titleFont, footerFont.pixelSize(), painter.device());
    const QFontMetrics titleMetrics(fittedFont, painter.device());
    const int titleWidth = titleMetrics.horizontalAdvance(title);
    layout.title = QRect(CentredX(pageWidth, titleWidth), layout.titleHeight, titleWidth, titleMetrics.height());
    painter.setFont(fittedFont);
    // Text cells are placed by their top-left corners, text by its baseline.
    painter.drawText(layout.title.x(), layout.title.y() + titleMetrics.ascent(), title);

    const QFontMetrics footerMetrics(footerFont, painter.device());
    layout.footerHeight = footerMetrics.height();

    layout.picture = pictureRect(pageWidth, pageHeight, layout.titleHeight, layout.footerHeight, printBitmap.size());
    drawPicture(painter, layout.picture, printBitmap);

    painter.setFont(footerFont);
    layout.footerAt = QPoint(MulDiv(pageWidth, 10, 100), pageHeight - layout.footerHeight);
    PageDescription stamped = page;
    if (!stamped.printedAt.isValid())
        stamped.printedAt = QDateTime::currentDateTime();
    painter.drawText(layout.footerAt.x(), layout.footerAt.y() + footerMetrics.ascent(),
                     footerText(stamped, separators));
    return layout;
}

} // namespace terralume::print
