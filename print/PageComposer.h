#pragma once
// The printed page: the caption as a centred title, PrintBitmap at 80 % of
// the page width, and a footer line with the settings, a notice and the date.
// All measures are device pixels of the page's printable area, origin at its
// top-left corner.

#include <QDateTime>
#include <QImage>
#include <QLocale>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

class QPainter;

namespace terralume::print {

// What the page says besides the picture.
struct PageDescription {
    QString caption;       // the map window's caption, printed as the title
    QString sizeName;      // "Small", "Medium" or "Large"
    int waterPosition = 0; // -40..40
    int heatPosition = 0;  // -40..40
    QDateTime printedAt;   // written in the footer; the current local time when not valid
};

// The page of a world made with these settings, as the Print command, the
// PDF page and the renderer all print it: the map window's caption for
// `title` above, the time of printing in the footer.
PageDescription pageFor(const QString &title, const QString &sizeName, int waterPosition, int heatPosition);

// number * numerator / denominator to the nearest integer, halves away from
// zero, with a 64-bit product; -1 when the denominator is 0.
int MulDiv(int number, int numerator, int denominator);

// The left edge that centres a text of `textWidth` on the page; the halving
// truncates toward zero, so a text wider than the page gets a negative x.
int CentredX(int pageWidth, int textWidth);

// Where PrintBitmap goes: 10 % in from the left, 80 % of the page wide, as
// tall as its proportions say, from three title heights down. When that would
// run into the footer line (landscape paper) it is scaled down, centred, to
// end on the footer's top instead.
QRect pictureRect(int pageWidth, int pageHeight, int titleHeight, int footerHeight, QSize bitmap);

// The date and time separators of a locale's short formats, "/" and ":" when
// a format has none.
struct DateSeparators {
    QString date = QStringLiteral("/");
    QString time = QStringLiteral(":");
};
DateSeparators separatorsOf(const QLocale &locale);

// "m/d/yy  h:nn": month and day without leading zero, two-digit year, two
// blanks, hour 0..23 without leading zero, two-digit minutes.
QString footerDate(const QDateTime &when, const DateSeparators &separators);

inline const QString kFooterNotice = QStringLiteral("Printed by Terralume, the Random World Generator");

// "Size - Medium, Water Level - -5, Heat Level - 10   <notice>  3/7/26  9:05"
QString footerText(const PageDescription &page, const DateSeparators &separators);

// What one composition measured and where it put things.
struct PageLayout {
    int pageWidth = 0;
    int pageHeight = 0;
    int titleHeight = 0;
    int footerHeight = 0;
    QRect title; // the title's text cell as drawn, within the page's width
    QRect picture;
    QPoint footerAt; // top-left of the footer's text cell
};

inline constexpr int kTitlePoints = 12;
inline constexpr int kFooterPoints = 8;
inline const QString kPrintFontFamily = QStringLiteral("Arial");
// Faces drawn to Arial's measures, in the order they stand in for it where a
// system has no Arial and no rule of its own that says which face does
// (Qt's offscreen platform on Windows reads the Fonts folder only).
inline const QStringList kPrintFontFallbacks = {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")};

// Throws PrintError naming the page's font when the system has no face at
// all to draw text in: Qt would leave the title and footer out without a word.
void requirePrintFont();

// Draws `printBitmap` into `target`, its place on the page.
using PictureDrawer = std::function<void(QPainter &painter, const QRect &target, const QImage &printBitmap)>;

// The painter's own image drawing, in bands of about a million pixels.
void drawPictureInBands(QPainter &painter, const QRect &target, const QImage &printBitmap);

// Draws the whole page on `painter`, whose device is the page: `pageWidth` x
// `pageHeight` device pixels at `dotsPerInchY` vertically (font sizes are in
// points of that resolution). `printBitmap` must be the 8-bit colour-mapped
// picture from ReJigPallete; anything else throws PrintError before drawing.
// The painter's font, brush and hints are set here, whatever a previous page
// left in them. A title wider than the page is drawn smaller, down to the
// footer's size, then cut with "…". Throws PrintError as requirePrintFont
// does. Text goes on an opaque white background; the picture's pixels reach
// the device unchanged (no lossy re-compression). `drawPicture` draws the
// picture: the PDF page's draws a stand-in that it then fills with the
// picture's own image (PdfImage.h).
PageLayout composePage(QPainter &painter, int pageWidth, int pageHeight, int dotsPerInchY, const PageDescription &page,
                       const QImage &printBitmap, const DateSeparators &separators,
                       const PictureDrawer &drawPicture = drawPictureInBands);

} // namespace terralume::print
