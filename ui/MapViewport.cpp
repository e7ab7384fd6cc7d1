#include "MapViewport.h"

#include "TerralumeApplication.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>
#include <cstdlib>

namespace terralume::ui {

namespace {

// One notch of a wheel, in its angle's units (eighths of a degree).
constexpr int kWheelNotch = 120;

// Qt takes a widget of its own drawing, and a scroll area, for an empty
// filler, which screen readers pass over; the map, and the view that holds
// the focus for it, is a picture.
QAccessibleInterface *mapPictureAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String(MapImage::staticMetaObject.className()) &&
        className != QLatin1String(MapViewport::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Graphic);
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

MapViewport::MapViewport(QWidget *parent) : QScrollArea(parent)
{
    setObjectName(QStringLiteral("ScrollBox1"));
    setWidgetResizable(false);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image_ = new MapImage;
    image_->setObjectName(QStringLiteral("Image1"));
    setWidget(image_);
    // The picture's events pass on to the view, but only those the window
    // system sends; both are watched.
    viewport()->installEventFilter(this);
    image_->installEventFilter(this);
    for (QScrollBar *bar : {horizontalScrollBar(), verticalScrollBar()}) {
        // The user's own scrolling sets a new place to keep.
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] { anchor_.reset(); });
        // A maximised window is sized by the window manager after the zoom.
        connect(bar, &QAbstractSlider::rangeChanged, this, [this] { keepAnchor(); });
    }
}

MapViewport::~MapViewport() { image_->setPicture(nullptr); }

void MapViewport::showPicture(const QImage *picture, int zoomFactor)
{
    zoomFactor_ = zoomFactor;
    image_->setPicture(picture);
    const int logicalSide = static_cast<int>(std::ceil(picture->width() / devicePixelRatioF()));
    image_->setFixedSize(logicalSide, logicalSide);
}

QSize MapViewport::sizeAroundPicture() const
{
    const int frame = 2 * frameWidth();
    return image_->size() + QSize(frame, frame);
}

void MapViewport::setPictureName(const QString &name)
{
    image_->setAccessibleName(name);
    setAccessibleName(name);
}

void MapViewport::scrollHome()
{
    anchor_.reset();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void MapViewport::holdAnchor(std::optional<QPointF> globalPointer)
{
    anchor_ = ZoomAnchor{{}, globalPointer};
    const QPointF inPicture = image_->mapFrom(viewport(), anchorInView());
    anchor_->cell = inPicture * devicePixelRatioF() / zoomFactor_;
}

QPointF MapViewport::anchorInView() const
{
    if (anchor_ && anchor_->globalPointer)
        return viewport()->mapFromGlobal(*anchor_->globalPointer);
    return QPointF(viewport()->width() / 2.0, viewport()->height() / 2.0);
}

void MapViewport::keepAnchor()
{
    if (!anchor_)
        return;
    // Cells are zoomFactor_ picture pixels wide, drawn at the device pixel
    // ratio; the scroll bars count the view's pixels.
    const qreal pixelsPerCell = zoomFactor_ / devicePixelRatioF();
    const QPointF scroll = anchor_->cell * pixelsPerCell - anchorInView();
    horizontalScrollBar()->setValue(qRound(scroll.x()));
    verticalScrollBar()->setValue(qRound(scroll.y()));
}

bool MapViewport::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == viewport() || watched == image_) && guardedCall([&] { return viewEvent(event); }))
        return true;
    return QScrollArea::eventFilter(watched, event);
}

bool MapViewport::viewEvent(QEvent *event)
{
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
        const int step = wheelTurn_ > 0 ? 1 : -1;
        wheelTurn_ = 0;
        emit zoomStepRequested(step, wheel->globalPosition());
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *press = static_cast<QMouseEvent *>(event);
        if (press->button() != Qt::LeftButton)
            return false;
        dragFrom_ = press->globalPosition();
        dragScroll_ = QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
        anchor_.reset();
        viewport()->setCursor(Qt::ClosedHandCursor);
        return true;
    }
    case QEvent::MouseMove: {
        auto *move = static_cast<QMouseEvent *>(event);
        if (!dragFrom_ || !move->buttons().testFlag(Qt::LeftButton))
            return false;
        // The picture follows the pointer.
        const QPoint moved = (move->globalPosition() - *dragFrom_).toPoint();
        horizontalScrollBar()->setValue(dragScroll_.x() - moved.x());
        verticalScrollBar()->setValue(dragScroll_.y() - moved.y());
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!dragFrom_ || static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            return false;
        dragFrom_.reset();
        viewport()->unsetCursor();
        return true;
    default:
        return false;
    }
}

} // namespace terralume::ui
