#pragma once
// The map window: shows one generated world at one screen pixel per cell in
// a scroll box, with zoom x1..x5, sizing itself to the picture or maximising
// when the picture does not fit on the screen, and the commands that print,
// save and copy it.

#include "Colouring.h"
#include "Generator.h"
#include "MapExport.h"
#include "MapPicture.h"
#include "WorldFigures.h"
#include "WorldSettings.h"

#include <QImage>
#include <QMainWindow>
#include <QPointF>
#include <QSize>

#include <array>
#include <optional>
#include <utility>

class QAction;
class QEventLoop;
class QMenu;

namespace terralume {
class SeededRandom;
}

namespace terralume::ui {

class MapViewport;

class TWorldScr : public QMainWindow {
    Q_OBJECT
public:
    explicit TWorldScr(SeededRandom &random, QWidget *parent = nullptr);

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
    // An empty chooser restores the file dialog.
    void setFileChooser(MapExportCommands::FileChooser chooser) { exports_.setFileChooser(std::move(chooser)); }

    // Whether a Print, a save or a Copy is still at work.
    bool jobRunning() const { return exports_.running(); }

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
    // A window that a zoom has grown past the screen's free area, where the
    // user had moved it, comes back inside.
    void keepInsideAvailableArea();
    void checkZoomEntry();
    QSize screenSize() const;

    SeededRandom &random_;
    World world_;
    WorldFigures figures_; // of world_, counted once a map
    WorldSettings settings_;
    Tint tint_;
    int ZoomFactor = 1;
    QImage BaseBitmap;
    QImage PrintBitmap;
    MapView view_;

    QSize screenSize_;
    bool pictureFits_ = true;
    QEventLoop *modalLoop_ = nullptr;

    MapViewport *ScrollBox1 = nullptr;
    QMenu *File1 = nullptr;
    QAction *PrintMap1 = nullptr;
    QAction *SavePicture1 = nullptr;
    QAction *SavePdf1 = nullptr;
    QAction *Copy1 = nullptr;
    QMenu *Zoom1 = nullptr;
    std::array<QAction *, 5> zoomEntries_{}; // x11, X21, X31, x41, X51
    QAction *Exit1 = nullptr;
    // Declared last, so it goes first: a job still at work is stopped and
    // waited for while the rest of the window is whole.
    MapExportCommands exports_{this};
};

} // namespace terralume::ui
