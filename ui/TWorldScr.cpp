#include "TWorldScr.h"

#include "DesignScale.h"
#include "LevelBands.h"
#include "MapViewport.h"
#include "SeededRandom.h"
#include "TerralumeApplication.h"
#include "TitleBar.h"
#include "WaitCursor.h"
#include "WorldPreview.h"
#include "WorldSettingsRules.h"

#include <QAction>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QWindowStateChangeEvent>

#include <algorithm>

namespace terralume::ui {

namespace {

constexpr QPoint kWindowPosition{6, 4};
constexpr int kZoomFactors = 5;

// The picture as a screen reader names it: the world it shows, its settings
// and its figures in the explorer's words, and the zoom. One pass of arg():
// a title may hold a "%1" of its own.
QString pictureName(const WorldSettings &settings, const WorldFigures &figures, int zoom)
{
    return QStringLiteral("%1: %2 world, seed %3, water %4, heat %5, %6, zoom x%7")
        .arg(mapCaption(settings.Title), settings.SizeName, settings.SeedText,
             levelReading(kWaterCaptions, settings.WaterPosition), levelReading(kHeatCaptions, settings.HeatPosition),
             figuresText(figures, QStringLiteral(", ")), QString::number(zoom));
}

} // namespace

// A dialog-type window: on X11 only such a window is marked transient for
// its owner, which is what makes the window manager treat the owner and the
// map as one application (one taskbar entry, minimised and restored
// together, the map kept above its owner).
TWorldScr::TWorldScr(SeededRandom &random, QWidget *parent)
    : QMainWindow(parent, Qt::Dialog | titleBarButtons()), random_(random)
{
    setObjectName(QStringLiteral("WorldScr"));
    setWindowTitle(QStringLiteral("Terralume"));
    buildControls();
    connect(&exports_, &MapExportCommands::ended, this, &TWorldScr::jobEnded);
}

void TWorldScr::buildControls()
{
    ScrollBox1 = new MapViewport(this);
    ScrollBox1->picture()->setPicture(&view_.image());
    setCentralWidget(ScrollBox1);
    connect(ScrollBox1, &MapViewport::zoomStepRequested, this, [this](int step, QPointF pointer) {
        const int factor = std::clamp(ZoomFactor + step, kLowestZoom, kHighestZoom);
        if (factor != ZoomFactor && !BaseBitmap.isNull())
            guardedCall([&] { setZoom(factor, pointer); });
    });

    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    bar->setNativeMenuBar(false);

    File1 = bar->addMenu(QStringLiteral("File"));
    File1->setObjectName(QStringLiteral("File1"));
    PrintMap1 = File1->addAction(QStringLiteral("Print"));
    PrintMap1->setObjectName(QStringLiteral("PrintMap1"));
    connect(PrintMap1, &QAction::triggered, this, guarded(this, &TWorldScr::PrintMap1Click));
    SavePicture1 = File1->addAction(QStringLiteral("Save Picture As…"));
    SavePicture1->setObjectName(QStringLiteral("SavePicture1"));
    connect(SavePicture1, &QAction::triggered, this, guarded(this, &TWorldScr::SavePicture1Click));
    SavePdf1 = File1->addAction(QStringLiteral("Save Page As PDF…"));
    SavePdf1->setObjectName(QStringLiteral("SavePdf1"));
    connect(SavePdf1, &QAction::triggered, this, guarded(this, &TWorldScr::SavePdf1Click));
    Copy1 = File1->addAction(QStringLiteral("Copy"));
    Copy1->setObjectName(QStringLiteral("Copy1"));
    connect(Copy1, &QAction::triggered, this, guarded(this, &TWorldScr::Copy1Click));

    Zoom1 = bar->addMenu(QStringLiteral("Zoom"));
    Zoom1->setObjectName(QStringLiteral("Zoom1"));
    struct ZoomEntry {
        const char *name;
        const char *caption;
        void (TWorldScr::*handler)();
    };
    // The captions keep the design's mixed case.
    const std::array<ZoomEntry, kZoomFactors> entries{{
        {"x11", "x 1", &TWorldScr::x11Click},
        {"X21", "X 2", &TWorldScr::X21Click},
        {"X31", "x 3", &TWorldScr::X31Click},
        {"x41", "x 4", &TWorldScr::x41Click},
        {"X51", "x 5", &TWorldScr::X51Click},
    }};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        QAction *entry = Zoom1->addAction(QString::fromLatin1(entries[i].caption));
        entry->setObjectName(QString::fromLatin1(entries[i].name));
        entry->setCheckable(true);
        entry->setChecked(i == 0);
        connect(entry, &QAction::triggered, this, guarded(this, entries[i].handler));
        zoomEntries_[i] = entry;
    }

    Exit1 = bar->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    connect(Exit1, &QAction::triggered, this, guarded(this, &TWorldScr::Exit1Click));

    placeFrameAt(*this, primaryScreenScale().point(kWindowPosition.x(), kWindowPosition.y()));
}

void TWorldScr::ShowModal(const WorldSettings &settings)
{
    settings_ = settings;
    // Modal to the settings window that owns it, not to the whole program:
    // the help window stays usable beside a map.
    setWindowModality(Qt::WindowModal);
    QEventLoop loop;
    modalLoop_ = &loop;
    show();
    if (isVisible())
        loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
}

void TWorldScr::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // A spontaneous show is the window coming back from minimised, not a
    // new map. The show itself is Qt's code and must not be unwound.
    if (!event->spontaneous())
        guarded(this, &TWorldScr::FormShow)();
}

void TWorldScr::closeEvent(QCloseEvent *event)
{
    // The window goes at once: a job still at work is given up or ends by
    // itself, and never holds the window (a print service may not answer).
    exports_.abandon();
    guarded(this, &TWorldScr::FormClose)();
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && modalLoop_)
        modalLoop_->quit();
}

void TWorldScr::FormShow()
{
    // Qt reads "[*]" in a title as its modified-document marker and hides it;
    // doubled, it shows as typed.
    setWindowTitle(mapCaption(settings_.Title).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
    // A new map never prints the picture converted for the one before it.
    PrintBitmap = QImage();
    ZoomFactor = 1;
    tint_ = tintFromHeatPosition(settings_.HeatPosition);
    const WaitCursor hourglass;
    GenerateHeights(world_, settings_.SizeName.toStdString(), settings_.WaterPosition, random_);
    figures_ = worldFigures(world_);
    checkZoomEntry();
    DrawMap();
    // A new map starts at its top-left corner, whatever the last one showed.
    ScrollBox1->scrollHome();
}

void TWorldScr::FormClose()
{
    // The pictures stay as they are between shows.
}

void TWorldScr::DrawMap()
{
    const WaitCursor hourglass;
    BaseBitmap = drawMapPicture(world_, tint_);
    view_.show(BaseBitmap);
    FitToScreen();
}

void TWorldScr::ZoomMap()
{
    if (BaseBitmap.isNull())
        return;
    const WaitCursor hourglass;
    view_.zoom(BaseBitmap, ZoomFactor);
    FitToScreen();
}

QSize TWorldScr::screenSize() const
{
    if (screenSize_.isValid())
        return screenSize_;
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize();
}

void TWorldScr::FitToScreen()
{
    ScrollBox1->showPicture(&view_.image(), ZoomFactor);

    // The decision is made on the size the scroll box would take around the
    // picture, before the window takes it: a window briefly 5000 pixels wide
    // would cost more than the zoom itself.
    const QSize box = ScrollBox1->sizeAroundPicture();
    const QSize screen = screenSize();
    pictureFits_ = box.width() < screen.width() && box.height() < screen.height();
    if (pictureFits_) {
        const bool wasMaximised = windowState().testFlag(Qt::WindowMaximized);
        setWindowState(windowState() & ~Qt::WindowMaximized);
        fixNormalSize();
        // Leaving the maximised state, Qt would put the window where the
        // maximised one began, the screen's corner; it belongs at its place.
        if (wasMaximised)
            placeFrameAt(*this, primaryScreenScale().point(kWindowPosition.x(), kWindowPosition.y()));
        else
            keepInsideAvailableArea();
        return;
    }
    // Too big for the screen: the window is maximised and the scroll box
    // fills it and scrolls the picture.
    ScrollBox1->setMinimumSize(0, 0);
    ScrollBox1->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setWindowState(windowState() | Qt::WindowMaximized);
}

void TWorldScr::fixNormalSize()
{
    if (pictureFits_) {
        const QSize box = ScrollBox1->sizeAroundPicture();
        ScrollBox1->setFixedSize(box);
        const int menuHeight =
            menuBar()->hasHeightForWidth() ? menuBar()->heightForWidth(box.width()) : menuBar()->sizeHint().height();
        setFixedSize(box.width(), menuHeight + box.height());
        return;
    }
    // A picture too big for the screen, in a window the window manager has
    // taken out of the maximised state: the window keeps to the largest size
    // that fits the screen's free area, frame included, and scrolls.
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Right after the restore this window's frame may still be the thinner
    // one of the maximised state; the owner's is a normal window's frame.
    const QWidget *framed = parentWidget() ? parentWidget()->window() : this;
    const QSize frame = framed->frameGeometry().size() - framed->geometry().size();
    setFixedSize(screen->availableGeometry().size() - frame);
    placeFrameAt(*this, screen->availableGeometry().topLeft());
}

void TWorldScr::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // Restored from maximised by the window manager (a double-click on the
    // title bar, say), not by the fitting rule: the border stays fixed
    // rather than becoming freely draggable with the limits of the
    // maximised state.
    const auto *change = static_cast<const QWindowStateChangeEvent *>(event);
    const Qt::WindowStates sized = Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen;
    if (change->oldState().testFlag(Qt::WindowMaximized) && !(windowState() & sized) && !view_.image().isNull())
        guardedCall([this] { fixNormalSize(); });
}

void TWorldScr::checkZoomEntry()
{
    for (std::size_t i = 0; i < zoomEntries_.size(); ++i)
        zoomEntries_[i]->setChecked(static_cast<int>(i) + 1 == ZoomFactor);
    // What a screen reader says for the picture follows the zoom, as the
    // marks do; the rest changes only with a new map. The view around it
    // holds the focus, so it carries the same name: that is what is heard
    // when the map opens and at each zoom.
    ScrollBox1->setPictureName(pictureName(settings_, figures_, ZoomFactor));
}

void TWorldScr::keepInsideAvailableArea()
{
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen || !isVisible())
        return;
    const QRect available = screen->availableGeometry();
    const QRect frame = frameGeometry();
    // Pulled back by as little as it takes; a window larger than the area
    // keeps its top-left corner, title bar and menu in reach.
    const QPoint inside(std::max(available.left(), std::min(frame.left(), available.right() + 1 - frame.width())),
                        std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height())));
    if (inside != frame.topLeft())
        move(inside);
}

void TWorldScr::setZoom(int factor, std::optional<QPointF> globalPointer)
{
    const int previous = ZoomFactor;
    // The point to keep, taken from the view as it is before the zoom.
    ScrollBox1->holdAnchor(globalPointer);
    ZoomFactor = factor;
    checkZoomEntry();
    try {
        ZoomMap();
    } catch (...) {
        // The view still shows the previous zoom; the marks follow it before
        // the error goes on to be reported.
        ZoomFactor = previous;
        checkZoomEntry();
        throw;
    }
    ScrollBox1->keepAnchor();
}

void TWorldScr::x11Click() { setZoom(1); }
void TWorldScr::X21Click() { setZoom(2); }
void TWorldScr::X31Click() { setZoom(3); }
void TWorldScr::x41Click() { setZoom(4); }
void TWorldScr::X51Click() { setZoom(5); }

void TWorldScr::Exit1Click() { close(); }

void TWorldScr::PrintMap1Click()
{
    exports_.print(view_.image(), settings_, [this](QImage converted) { PrintBitmap = std::move(converted); });
}

void TWorldScr::SavePicture1Click() { exports_.savePicture(view_.image(), settings_); }
void TWorldScr::SavePdf1Click() { exports_.savePage(view_.image(), settings_); }
void TWorldScr::Copy1Click() { exports_.copy(view_.image()); }

} // namespace terralume::ui
