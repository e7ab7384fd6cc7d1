#pragma once
// The map window's view of its picture: the picture at one picture pixel per
// device pixel in a scroll box, scrolled by its bars or by dragging with the
// left button, zoomed in and out by Ctrl+wheel, and a zoom that keeps the
// point under the pointer (or the view's centre) where it was.

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QScrollArea>

#include <optional>

namespace terralume::ui {

// Image1: draws its picture unscaled from the top-left corner, one picture
// pixel per device pixel whatever the screen's device pixel ratio. Screen
// readers meet it as an image, named for the world it shows.
class MapImage : public QWidget {
    Q_OBJECT
public:
    explicit MapImage(QWidget *parent = nullptr);

    // Not owned; the picture must outlive the widget or be replaced first.
    void setPicture(const QImage *picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    const QImage *picture_ = nullptr;
};

// ScrollBox1 with Image1 in it.
class MapViewport : public QScrollArea {
    Q_OBJECT
public:
    explicit MapViewport(QWidget *parent = nullptr);
    // The picture widget points at its owner's picture; it lets go first.
    ~MapViewport() override;

    MapImage *picture() const { return image_; }

    // Shows `picture` (not owned, as MapImage) at `zoomFactor` screen pixels
    // a cell, the picture widget taking the picture's size.
    void showPicture(const QImage *picture, int zoomFactor);
    // The size the scroll box takes around the whole picture.
    QSize sizeAroundPicture() const;
    // What screen readers hear for the picture; the view holds the focus,
    // so it carries the same name.
    void setPictureName(const QString &name);
    // Back to the picture's top-left corner, as a new map starts.
    void scrollHome();

    // Before a zoom: the point of the map to keep in place, under the
    // pointer at `globalPointer` or without one at the view's centre. It is
    // kept through the next showPicture and every later resize, until the
    // user scrolls or a new map starts.
    void holdAnchor(std::optional<QPointF> globalPointer);
    // Scrolls the anchor's point back to its place, once the window has its
    // size for the new picture.
    void keepAnchor();

signals:
    // Ctrl+wheel turned a whole notch: +1 zooms in, -1 out, around the
    // pointer at `globalPointer`.
    void zoomStepRequested(int step, QPointF globalPointer);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool viewEvent(QEvent *event);
    // Where in the view the anchor's point belongs, in the view's pixels.
    QPointF anchorInView() const;

    MapImage *image_ = nullptr;
    int zoomFactor_ = 1;

    // The point a zoom keeps in place, in cells of the map, and where.
    struct ZoomAnchor {
        QPointF cell;
        std::optional<QPointF> globalPointer;
    };
    std::optional<ZoomAnchor> anchor_;
    // Wheel turns smaller than a notch, as fine-grained wheels send them.
    int wheelTurn_ = 0;
    // A drag in progress: where it began on the screen and the scroll then.
    std::optional<QPointF> dragFrom_;
    QPoint dragScroll_;
};

} // namespace terralume::ui
