#pragma once
// The map window: shows one generated world at one screen pixel per cell in
// a scroll box, with zoom x1..x5, sizing itself to the picture or maximising
// when the picture does not fit on the screen.

#include "BackgroundJob.h"
#include "Colouring.h"
#include "Generator.h"
#include "MapPicture.h"
#include "WaitCursor.h"
#include "WorldSettings.h"

#include <QImage>
#include <QMainWindow>
#include <QPointF>
#include <QSize>

#include <array>
#include <functional>
#include <optional>
#include <utility>

class QAction;
class QEventLoop;
class QMenu;
class QScrollArea;

namespace terralume {
class SeededRandom;
}

namespace terralume::ui {

// Image1: draws its picture unscaled from the top-left corner, one picture
// pixel per device pixel whatever the screen's device pixel ratio.
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

class TWorldScr : public QMainWindow {
    Q_OBJECT
public:
    explicit TWorldScr(SeededRandom &random, QWidget *parent = nullptr);
    ~TWorldScr() override;

    // Generates and shows the world of `settings` modally; returns when the
    // window is closed.
    void ShowModal(const WorldSettings &settings);

    // What printing needs: the picture as shown (current zoom) and the
    // settings the map was made from.
    const QImage &viewImage() const { return view_.image(); }
    const WorldSettings &shownSettings() const { return settings_; }
    // The 8-bit copy of the view the last Print made; empty after a show.
    const QImage &printBitmap() const { return PrintBitmap; }

    const QImage &baseImage() const { return BaseBitmap; }
    int zoomFactor() const { return ZoomFactor; }
    Tint tint() const { return tint_; }
    const World &world() const { return world_; }

    // The screen the fitting rule measures against; an invalid size means
    // the primary screen's full geometry.
    void setScreenSize(QSize size) { screenSize_ = size; }
    void setPixelAllocator(MapView::PixelAllocator allocator) { view_.setAllocator(std::move(allocator)); }

    // Asks where to save: given the dialog's caption, the proposed path and
    // the file filter, returns the chosen path, or nothing when cancelled.
    using FileChooser =
        std::function<QString(QWidget *parent, const QString &caption, const QString &proposed, const QString &filter)>;
    // An empty chooser restores the file dialog.
    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }

    // Whether a Print, a save or a Copy is still at work.
    bool jobRunning() const { return job_.running(); }

signals:
    // A Print, a save or a Copy has ended and its outcome has been shown.
    void jobEnded();

public slots:
    void x11Click();
    void X21Click();
    void X31Click();
    void x41Click();
    void X51Click();
    void Exit1Click();
    void PrintMap1Click();
    void SavePicture1Click();
    void SavePdf1Click();
    void Copy1Click();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    // The view's own handling: Ctrl+wheel zooms around the pointer, a drag
    // with the left button pans.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void FormShow();
    void FormClose();
    void DrawMap();
    void ZoomMap();
    // Sizes the window to the picture, or maximises it when the scroll box
    // around the picture would be as wide or as high as the screen.
    void FitToScreen();
    // The fixed size of the window in its normal state for the picture now
    // shown; the user never drags the border.
    void fixNormalSize();

    // A zoom keeps one point of the map where it is in the view: the point
    // under the pointer at `globalPointer`, or without one the view's centre.
    void setZoom(int factor, std::optional<QPointF> globalPointer = std::nullopt);
    // Where in the view the anchor's point belongs, in the view's pixels.
    QPointF anchorInView() const;
    // Scrolls the anchor's point back to its place; run again whenever the
    // view or the picture changes size (a maximised window is sized by the
    // window manager, after the zoom).
    void keepAnchor();
    // A window that a zoom has grown past the screen's free area, where the
    // user had moved it, comes back inside.
    void keepInsideAvailableArea();
    bool viewportEvent(QEvent *event);
    // One job at a time: another command meanwhile is refused with the
    // running job's `inProgress` message.
    void refuseWhileBusy() const;
    // Starts `work` on a copy of what it needs, off the window's thread;
    // `succeeded` runs on the window's thread after it, when it did.
    enum class Hourglass { Now, NotNow };
    void startJob(const char *inProgress, Hourglass hourglass, BackgroundJob::Work work,
                  std::function<void()> succeeded = {});
    QString chooseFile(const QString &caption, const QString &suffix, const QString &filter);
    void checkZoomEntry();
    QSize autoSizedScrollBox() const;
    QSize screenSize() const;

    SeededRandom &random_;
    World world_;
    WorldSettings settings_;
    Tint tint_;
    int ZoomFactor = 1;
    QImage BaseBitmap;
    QImage PrintBitmap;
    MapView view_;

    // The point a zoom keeps in place, in cells of the map, and where it is
    // kept: under the pointer (screen position) or at the view's centre. It
    // holds until the user scrolls.
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

    QSize screenSize_;
    bool pictureFits_ = true;
    QEventLoop *modalLoop_ = nullptr;
    FileChooser fileChooser_;

    QScrollArea *ScrollBox1 = nullptr;
    MapImage *Image1 = nullptr;
    QMenu *File1 = nullptr;
    QAction *PrintMap1 = nullptr;
    QAction *SavePicture1 = nullptr;
    QAction *SavePdf1 = nullptr;
    QAction *Copy1 = nullptr;
    QMenu *Zoom1 = nullptr;
    std::array<QAction *, 5> zoomEntries_{}; // x11, X21, X31, x41, X51
    QAction *Exit1 = nullptr;

    std::optional<WaitCursor> jobCursor_;
    const char *jobInProgress_ = nullptr;
    // Declared last, so it goes first: its work is waited for while the
    // rest of the window is still whole.
    BackgroundJob job_;
};

} // namespace terralume::ui
