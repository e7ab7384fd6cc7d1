#include "TWorldSplash.h"

#include "Assets.h"
#include "DesignScale.h"
#include "TerralumeVersion.h"
#include "TitleBar.h"

#include <QBitmap>
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace terralume::ui {

namespace {

// The banner's corners are black, and black is what lets the window's face
// show through. The mask comes from the picture as drawn, before any
// scaling could blur the edge into near-black.
QPixmap transparentBanner(const QSize &size)
{
    const QImage banner(kBannerResource);
    if (banner.isNull())
        return {};
    const QRgb key = banner.pixel(0, banner.height() - 1);
    // A bitmap reads the image's bits the other way round, so MaskInColor
    // is what makes the key colour see-through.
    QImage mask = banner.createMaskFromColor(key, Qt::MaskInColor);
    QPixmap picture = QPixmap::fromImage(banner.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    picture.setMask(QBitmap::fromImage(mask.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    return picture;
}

QLabel *blueLabel(const DesignScale &scale, const QString &name, const QString &text, int left, int top,
                  QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setPointSize(9);
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(palette);
    // On a button-face background a label would otherwise take the button
    // text colour.
    label->setForegroundRole(QPalette::WindowText);
    label->move(scale.point(left, top));
    label->adjustSize();
    label->resize(label->width(), std::max(label->height(), scale(16)));
    return label;
}

} // namespace

TWorldSplash::TWorldSplash(QWidget *parent) : QDialog(parent, Qt::Dialog | titleBarButtons())
{
    loadAssets();
    const DesignScale scale = primaryScreenScale();
    setObjectName(QStringLiteral("WorldSplash"));
    setWindowTitle(QStringLiteral("Terralume"));
    setWindowIcon(programIcon());
    // Modal to its owner only, so that help stays usable while it is open.
    setWindowModality(Qt::WindowModal);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    QFont designFont = font();
    designFont.setPointSize(8);
    setFont(designFont);
    setFixedSize(scale.size(400, 239));
    move(scale.point(192, 132));

    auto *banner = new QLabel(this);
    banner->setObjectName(QStringLiteral("Image1"));
    banner->setGeometry(scale.rect(0, 0, 400, 100));
    banner->setPixmap(transparentBanner(banner->size()));
    // The banner is the program's name, written out; a screen reader says it.
    banner->setAccessibleName(QStringLiteral("Terralume"));

    QLabel *title =
        blueLabel(scale, QStringLiteral("Label3"), QStringLiteral("The Random World Generator"), 90, 108, this);
    QLabel *version =
        blueLabel(scale, QStringLiteral("Label1"), QStringLiteral("Version " TERRALUME_VERSION), 132, 132, this);
    QLabel *address = blueLabel(scale, QStringLiteral("Label2"), webAddress(), 132, 156, this);
    // The lines start at one edge, the block centred as the longest line
    // is in the design; in a face of other widths the design's own starts
    // would leave them ragged, or carry one past the window's edge.
    const QList<QLabel *> lines{title, version, address};
    const int widest = (*std::max_element(lines.begin(), lines.end(), [](const QLabel *a, const QLabel *b) {
                           return a->width() < b->width();
                       }))->width();
    for (QLabel *line : lines)
        line->move(std::max(0, (width() - widest) / 2), line->y());
    // A screen reader presenting a dialog reads only its labels of three
    // words or more, taking shorter ones for the captions of fields.
    version->setAccessibleName(QStringLiteral("Terralume version " TERRALUME_VERSION));
    address->setAccessibleName(QStringLiteral("Web site ") + webAddress());

    butOK = new QPushButton(QStringLiteral("OK"), this);
    butOK->setObjectName(QStringLiteral("butOK"));
    butOK->setGeometry(scale.rect(158, 186, 73, 33));
    butOK->setDefault(true);
    connect(butOK, &QPushButton::clicked, this, &TWorldSplash::butOKClick);
}

QString TWorldSplash::webAddress() { return QStringLiteral("https://terralume.example.org"); }

void TWorldSplash::butOKClick()
{
    // Closing only hides the window: the next About shows this same one.
    close();
}

void TWorldSplash::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    butOK->setFocus(Qt::OtherFocusReason);
}

} // namespace terralume::ui
