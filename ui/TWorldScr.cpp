#include "TWorldScr.h"

#include "DesignScale.h"
#include "LevelBands.h"
#include "ViewPng.h"
#include "MapExport.h"
#include "MapPrinter.h"
#include "PrintJob.h"
#include "SeededRandom.h"
#include "TerralumeApplication.h"
#include "WaitCursor.h"
#include "WorldSettingsRules.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QScrollArea>
#include <QShowEvent>
#include <QWheelEvent>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>

namespace terralume::ui {

namespace {

constexpr QPoint kWindowPosition{6, 4};
constexpr int kZoomFactors = 5;
// One notch of a wheel, in its angle's units (eighths of a degree).
constexpr int kWheelNotch = 120;

const QString kPngType = QStringLiteral("image/png");
const QString kQtImageType = QStringLiteral("application/x-qt-image");

// The view on the clipboard, its PNG encoded already. On X11 Qt offers every
// image type it can write for a picture and encodes the one asked for on the
// window's thread when another program pastes; offered as PNG bytes alone,
// a paste costs the window nothing. This program's own pastes take the
// picture itself. Windows programs paste bitmaps, which Qt makes from the
// picture, so there the picture is offered too.
class ClipboardPicture : public QMimeData {
public:
    ClipboardPicture(QImage picture, QByteArray png) : picture_(std::move(picture)), png_(std::move(png)) {}

    QStringList formats() const override
    {
#ifdef Q_OS_WIN
        return {kPngType, kQtImageType};
#else
        return {kPngType};
#endif
    }
    bool hasFormat(const QString &type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString &type, QMetaType) const override
    {
        if (type == kPngType)
            return png_;
        if (type == kQtImageType)
            return picture_;
        return {};
    }

private:
    QImage picture_;
    QByteArray png_;
};

// Qt takes a widget of its own drawing for an empty filler, which screen
// readers pass over; the map is a picture.
QAccessibleInterface *mapPictureAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String(MapImage::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
}

// The picture as a screen reader names it: the world it shows, in words,
// and the zoom. One pass of arg(): a title may hold a "%1" of its own.
QString pictureName(const WorldSettings &settings, int zoom)
{
    return QStringLiteral("%1: %2 world, seed %3, water %4, heat %5, zoom x%6")
        .arg(mapCaption(settings.Title), settings.SizeName, settings.SeedText,
             levelReading(kWaterCaptions, settings.WaterPosition), levelReading(kHeatCaptions, settings.HeatPosition),
             QString::number(zoom));
}

} // namespace

MapImage::MapImage(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    static const bool installed = [] {
        QAccessible::installFactory(mapPictureAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

void MapImage::setPicture(const QImage *picture)
{
    picture_ = picture;
    update();
}

void MapImage::paintEvent(QPaintEvent *event)
{
    if (!picture_ || picture_->isNull())
        return;
    QPainter painter(this);
    // Only the exposed part is drawn: at x5 the picture is far larger than
    // the part a screen can show.
    const qreal ratio = devicePixelRatioF();
    const QRectF target = event->rect();
    const QRectF source(target.x() * ratio, target.y() * ratio, target.width() * ratio, target.height() * ratio);
    painter.drawImage(target, *picture_, source);
}

// A dialog-type window: on X11 only such a window is marked transient for
// its owner, which is what makes the window manager treat the owner and the
// map as one application (one taskbar entry, minimised and restored
// together, the map kept above its owner).
TWorldScr::TWorldScr(SeededRandom &random, QWidget *parent)
    : QMainWindow(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      random_(random)
{
    setObjectName(QStringLiteral("WorldScr"));
    setWindowTitle(QStringLiteral("Terralume"));
    buildControls();
}

TWorldScr::~TWorldScr()
{
    // The picture widget points at view_'s image; it goes before view_ does.
    Image1->setPicture(nullptr);
}

void TWorldScr::buildControls()
{
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = new MapImage;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPicture(&view_.image());
    ScrollBox1->setWidget(Image1);
    setCentralWidget(ScrollBox1);
    // The picture's events pass on to the view, but only those the window
    // system sends; both are watched.
    ScrollBox1->viewport()->installEventFilter(this);
    Image1->installEventFilter(this);
    for (QScrollBar *bar : {ScrollBox1->horizontalScrollBar(), ScrollBox1->verticalScrollBar()}) {
        // The user's own scrolling sets a new place to keep.
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] { anchor_.reset(); });
        connect(bar, &QAbstractSlider::rangeChanged, this, [this] { keepAnchor(); });
    }

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
    // A job lasts well under a second; the window goes when it has ended
    // and its outcome has been shown.
    job_.finish();
    FormClose();
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
    anchor_.reset();
    ZoomFactor = 1;
    tint_ = tintFromHeatPosition(settings_.HeatPosition);
    const WaitCursor hourglass;
    checkZoomEntry();
    GenerateHeights(world_, settings_.SizeName.toStdString(), settings_.WaterPosition, random_);
    DrawMap();
    // A new map starts at its top-left corner, whatever the last one showed.
    ScrollBox1->horizontalScrollBar()->setValue(0);
    ScrollBox1->verticalScrollBar()->setValue(0);
}

void TWorldScr::FormClose()
{
    // The pictures stay as they are between shows; printing may still read
    // them.
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

QSize TWorldScr::autoSizedScrollBox() const
{
    const int frame = 2 * ScrollBox1->frameWidth();
    return Image1->size() + QSize(frame, frame);
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
    const qreal ratio = devicePixelRatioF();
    const int logicalSide = static_cast<int>(std::ceil(view_.image().width() / ratio));
    Image1->setFixedSize(logicalSide, logicalSide);
    Image1->update();

    // The decision is made on the size the scroll box would take around the
    // picture, before the window takes it: a window briefly 5000 pixels wide
    // would cost more than the zoom itself.
    const QSize box = autoSizedScrollBox();
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
        const QSize box = autoSizedScrollBox();
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
        fixNormalSize();
}

void TWorldScr::checkZoomEntry()
{
    for (std::size_t i = 0; i < zoomEntries_.size(); ++i)
        zoomEntries_[i]->setChecked(static_cast<int>(i) + 1 == ZoomFactor);
    // What a screen reader says for the picture follows the zoom, as the
    // marks do; the rest changes only with a new map. The view around it
    // holds the focus, so it carries the same name: that is what is heard
    // when the map opens and at each zoom.
    const QString name = pictureName(settings_, ZoomFactor);
    Image1->setAccessibleName(name);
    ScrollBox1->setAccessibleName(name);
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

QPointF TWorldScr::anchorInView() const
{
    const QWidget *view = ScrollBox1->viewport();
    if (anchor_ && anchor_->globalPointer)
        return view->mapFromGlobal(*anchor_->globalPointer);
    return QPointF(view->width() / 2.0, view->height() / 2.0);
}

void TWorldScr::keepAnchor()
{
    if (!anchor_)
        return;
    // Cells are ZoomFactor picture pixels wide, drawn at the device pixel
    // ratio; the scroll bars count the view's pixels.
    const qreal pixelsPerCell = ZoomFactor / devicePixelRatioF();
    const QPointF scroll = anchor_->cell * pixelsPerCell - anchorInView();
    ScrollBox1->horizontalScrollBar()->setValue(qRound(scroll.x()));
    ScrollBox1->verticalScrollBar()->setValue(qRound(scroll.y()));
}

void TWorldScr::setZoom(int factor, std::optional<QPointF> globalPointer)
{
    const int previous = ZoomFactor;
    // The point to keep, taken from the view as it is before the zoom.
    anchor_ = ZoomAnchor{{}, globalPointer};
    const QPointF inPicture = Image1->mapFrom(ScrollBox1->viewport(), anchorInView());
    anchor_->cell = inPicture * devicePixelRatioF() / ZoomFactor;
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
    keepAnchor();
}

bool TWorldScr::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == ScrollBox1->viewport() || watched == Image1) && viewportEvent(event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool TWorldScr::viewportEvent(QEvent *event)
{
    QWidget *view = ScrollBox1->viewport();
    QScrollBar *across = ScrollBox1->horizontalScrollBar();
    QScrollBar *down = ScrollBox1->verticalScrollBar();
    switch (event->type()) {
    case QEvent::Wheel: {
        auto *wheel = static_cast<QWheelEvent *>(event);
        if (!wheel->modifiers().testFlag(Qt::ControlModifier))
            return false;
        wheel->accept();
        const int turn = wheel->angleDelta().y();
        // A turn the other way starts afresh.
        wheelTurn_ = (turn > 0) == (wheelTurn_ > 0) ? wheelTurn_ + turn : turn;
        if (std::abs(wheelTurn_) < kWheelNotch)
            return true;
        const int factor = std::clamp(ZoomFactor + (wheelTurn_ > 0 ? 1 : -1), kLowestZoom, kHighestZoom);
        wheelTurn_ = 0;
        if (factor != ZoomFactor && !BaseBitmap.isNull())
            setZoom(factor, wheel->globalPosition());
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() != Qt::LeftButton)
            return false;
        dragFrom_ = press->globalPosition();
        dragScroll_ = QPoint(across->value(), down->value());
        anchor_.reset();
        view->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        auto *move = static_cast<QMouseEvent *>(event);
        if (!dragFrom_ || !move->buttons().testFlag(Qt::LeftButton))
            return false;
        // The picture follows the pointer.
        const QPoint moved = (move->globalPosition() - *dragFrom_).toPoint();
        across->setValue(dragScroll_.x() - moved.x());
        down->setValue(dragScroll_.y() - moved.y());
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!dragFrom_ || static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            return false;
        dragFrom_.reset();
        view->unsetCursor();
        return true;
    default:
        return false;
    }
}

void TWorldScr::x11Click() { setZoom(1); }
void TWorldScr::X21Click() { setZoom(2); }
void TWorldScr::X31Click() { setZoom(3); }
void TWorldScr::x41Click() { setZoom(4); }
void TWorldScr::X51Click() { setZoom(5); }

void TWorldScr::Exit1Click() { close(); }

void TWorldScr::refuseWhileBusy() const
{
    if (job_.running())
        throw std::runtime_error(jobInProgress_);
}

void TWorldScr::startJob(const char *inProgress, Hourglass hourglass, BackgroundJob::Work work,
                         std::function<void()> succeeded)
{
    refuseWhileBusy();
    jobInProgress_ = inProgress;
    // Before the start: without a thread the work runs in it, and the
    // cursor is back to normal when it returns.
    if (hourglass == Hourglass::Now)
        jobCursor_.emplace();
    job_.start(std::move(work), [this, succeeded = std::move(succeeded)](std::exception_ptr failure) {
        jobCursor_.reset();
        try {
            if (failure)
                std::rethrow_exception(failure);
            if (succeeded)
                succeeded();
        } catch (...) {
            reportError(std::current_exception());
        }
        emit jobEnded();
    });
}

void TWorldScr::PrintMap1Click()
{
    refuseWhileBusy();
    // The page's title is the caption; the footer records the settings the
    // shown map was made with.
    const print::PageDescription page =
        print::pageFor(settings_.Title, settings_.SizeName, settings_.WaterPosition, settings_.HeatPosition);
    // The job works on the view as it is now; a zoom meanwhile makes a new
    // view rather than drawing over this one.
    const QImage view = view_.image();
    startJob("Printing in progress", Hourglass::NotNow, [this, view, page](const BackgroundJob::HandBack &handBack) {
        QImage converted;
        // The conversion runs under the normal cursor; the job under the
        // hourglass. PrintBitmap is the converted view from then on, whatever
        // becomes of the job.
        print::PrintMap(view, page, converted, [&] {
            handBack([this, converted] {
                PrintBitmap = converted;
                jobCursor_.emplace();
            });
        });
    });
}

QString TWorldScr::chooseFile(const QString &caption, const QString &suffix, const QString &filter)
{
    const QString proposed = QDir(lastSaveFolder()).filePath(proposedFileName(settings_, suffix));
    return fileChooser_ ? fileChooser_(this, caption, proposed, filter)
                        : QFileDialog::getSaveFileName(this, caption, proposed, filter);
}

void TWorldScr::SavePicture1Click()
{
    refuseWhileBusy();
    const QString file =
        chooseFile(QStringLiteral("Save Picture As"), QStringLiteral("png"), QStringLiteral("PNG pictures (*.png)"));
    if (file.isEmpty())
        return;
    const WorldRecord record = recordOf(settings_);
    const QImage view = view_.image();
    startJob(
        "Saving in progress", Hourglass::Now,
        [view, record, file](const BackgroundJob::HandBack &) {
            const QByteArray png = encodeRecordedPng(view, record);
            if (png.isEmpty())
                throw std::runtime_error("Cannot save '" + file.toStdString() +
                                         "': the picture could not be encoded as PNG");
            saveWhole(file, png);
        },
        [this, record] {
            // The picture is saved all the same; the person learns what it
            // keeps.
            const QString recorded = recordedTitle(record.title);
            if (recorded.size() < record.title.size()) {
                QMessageBox box(QMessageBox::Information, QStringLiteral("Terralume"),
                                QStringLiteral("The title is longer than a picture can record: the saved picture "
                                               "records its first %1 characters.")
                                    .arg(recorded.toUcs4().size()),
                                QMessageBox::Ok, this);
                box.exec();
            }
        });
}

void TWorldScr::SavePdf1Click()
{
    refuseWhileBusy();
    const QString file =
        chooseFile(QStringLiteral("Save Page As PDF"), QStringLiteral("pdf"), QStringLiteral("PDF files (*.pdf)"));
    if (file.isEmpty())
        return;
    const print::PageDescription page =
        print::pageFor(settings_.Title, settings_.SizeName, settings_.WaterPosition, settings_.HeatPosition);
    const QImage view = view_.image();
    // The default printer's paper is looked up in the job too: a spooler
    // that is slow to answer holds up the page, not the window.
    startJob("Saving in progress", Hourglass::Now, [view, page, file](const BackgroundJob::HandBack &) {
        saveWhole(file, print::composePdfBytes(view, page, defaultPdfPaper()));
    });
}

void TWorldScr::Copy1Click()
{
    const QImage view = view_.image();
    startJob("Copying in progress", Hourglass::NotNow, [view](const BackgroundJob::HandBack &handBack) {
        QByteArray png = encodeViewPng(view);
        if (png.isEmpty())
            throw std::runtime_error("The picture could not be encoded as PNG");
        handBack([view, png = std::move(png)]() mutable {
            QGuiApplication::clipboard()->setMimeData(new ClipboardPicture(view, std::move(png)));
        });
    });
}

} // namespace terralume::ui
