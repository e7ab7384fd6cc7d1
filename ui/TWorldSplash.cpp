#include "TWorldSplash.h"

#include "Assets.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <cmath>

namespace terralume::ui {

TWorldSplash *WorldSplash = nullptr;

namespace {

// The layout is drawn on a 120-pixels-per-inch design.
int designToScreen(int designPixels)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const long long dpi = screen ? std::lround(screen->logicalDotsPerInch()) : 120;
    const long long scaled = designPixels * dpi;
    return int(scaled >= 0 ? (scaled + 60) / 120 : -((-scaled + 60) / 120));
}

QRect designRect(int left, int top, int width, int height)
{
    return {designToScreen(left), designToScreen(top), designToScreen(width), designToScreen(height)};
}

// The banner's corners are black, and black is what lets the window's face
// show through. The mask comes from the picture as drawn, before any
// scaling could blur the edge into near-black.
QPixmap transparentBanner(const QSize &size)
{
    const QImage banner(BannerResource);
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

QLabel *blueLabel(const QString &name, const QString &text, int left, int top, QWidget *parent)
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
    label->move(designToScreen(left), designToScreen(top));
    label->adjustSize();
    label->resize(label->width(), std::max(label->height(), designToScreen(16)));
    return label;
}

} // namespace

TWorldSplash::TWorldSplash(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    loadAssets();
    setObjectName(QStringLiteral("WorldSplash"));
    setWindowTitle(QStringLiteral("Terralume"));
    setWindowIcon(programIcon());
    setModal(true);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFixedSize(designToScreen(400), designToScreen(239));
    move(192, 132);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(designRect(0, 0, 400, 100));
    Image1->setPixmap(transparentBanner(Image1->size()));

    Label3 = blueLabel(QStringLiteral("Label3"), QStringLiteral("The Random World Generator"), 90, 108, this);
    Label1 = blueLabel(QStringLiteral("Label1"), QStringLiteral("Version 1.20"), 132, 132, this);
    Label2 = blueLabel(QStringLiteral("Label2"), webAddress(), 132, 156, this);

    butOK = new QPushButton(QStringLiteral("OK"), this);
    butOK->setObjectName(QStringLiteral("butOK"));
    butOK->setGeometry(designRect(158, 186, 73, 33));
    butOK->setDefault(true);
    connect(butOK, &QPushButton::clicked, this, &TWorldSplash::butOKClick);
}

QString TWorldSplash::webAddress()
{
    return QStringLiteral("https://terralume.example.org");
}

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
