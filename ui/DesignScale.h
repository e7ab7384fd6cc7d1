#pragma once
// The window layouts are drawn on a 120-pixels-per-inch design; every
// position and size in the windows goes through this one conversion so the
// layout keeps its proportions at the screen's own logical DPI.

#include <QPoint>
#include <QRect>
#include <QSize>

class QFont;
class QWidget;

namespace terralume::ui {

inline constexpr int kDesignDpi = 120;

// The design's face at its 8 points, in design pixels: a letter (A-Z, a-z)
// is 7 pixels wide on average and a line of text 16 pixels high.
inline constexpr double kDesignLetterWidth = 7.0;
inline constexpr double kDesignLineHeight = 16.0;

// How much room the face really used needs beside the design's face: each
// factor is at least 1, so a face that sets text smaller keeps the design's
// layout, and a wider or taller one widens or heightens all of it alike.
struct FaceStretch {
    double horizontal = 1.0;
    double vertical = 1.0;
};

// The stretch for `font` at `screenDpi`, from its average letter width and
// its line height against the design face's at the same resolution.
FaceStretch faceStretch(const QFont &font, int screenDpi);

class DesignScale {
public:
    explicit DesignScale(int screenDpi) : dpi_(screenDpi > 0 ? screenDpi : kDesignDpi) {}
    // A scale whose horizontal and vertical measures are also stretched for
    // the face the controls are drawn in. Plain `operator()` stays unstretched.
    DesignScale(int screenDpi, FaceStretch stretch) : dpi_(screenDpi > 0 ? screenDpi : kDesignDpi), stretch_(stretch) {}

    // Rounded to the nearest pixel, halves away from zero, so that a layout
    // scaled down and up again lands on the same pixels.
    int operator()(int designPixels) const
    {
        const long long scaled = static_cast<long long>(designPixels) * dpi_;
        const long long half = kDesignDpi / 2;
        return static_cast<int>(scaled >= 0 ? (scaled + half) / kDesignDpi : -((-scaled + half) / kDesignDpi));
    }

    // Across and down, with the face's stretch.
    int x(int designPixels) const { return stretched(designPixels, stretch_.horizontal); }
    int y(int designPixels) const { return stretched(designPixels, stretch_.vertical); }

    QPoint point(int left, int top) const { return {x(left), y(top)}; }
    QSize size(int width, int height) const { return {x(width), y(height)}; }
    QRect rect(int left, int top, int width, int height) const { return {point(left, top), size(width, height)}; }

    int dpi() const { return dpi_; }
    FaceStretch stretch() const { return stretch_; }

private:
    int stretched(int designPixels, double factor) const;

    int dpi_;
    FaceStretch stretch_;
};

// The scale of the screen the application starts on.
DesignScale primaryScreenScale();

// Puts the window's outer frame, title bar included, at `position`. Some
// window managers take a position given before the first show as the
// client area's, which would push the title bar off the top of the screen.
void placeFrameAt(QWidget &window, QPoint position);

} // namespace terralume::ui
