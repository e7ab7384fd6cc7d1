#pragma once
// The window layouts are drawn on a 120-pixels-per-inch design; every
// position and size in the windows goes through this one conversion so the
// layout keeps its proportions at the screen's own logical DPI.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace terralume::ui {

inline constexpr int kDesignDpi = 120;

class DesignScale {
public:
    explicit DesignScale(int screenDpi) : dpi_(screenDpi > 0 ? screenDpi : kDesignDpi) {}

    // Rounded to the nearest pixel, halves away from zero, so that a layout
    // scaled down and up again lands on the same pixels.
    int operator()(int designPixels) const
    {
        const long long scaled = static_cast<long long>(designPixels) * dpi_;
        const long long half = kDesignDpi / 2;
        return static_cast<int>(scaled >= 0 ? (scaled + half) / kDesignDpi : -((-scaled + half) / kDesignDpi));
    }

    QPoint point(int left, int top) const { return {(*this)(left), (*this)(top)}; }
    QSize size(int width, int height) const { return {(*this)(width), (*this)(height)}; }
    QRect rect(int left, int top, int width, int height) const
    {
        return {point(left, top), size(width, height)};
    }

    int dpi() const { return dpi_; }

private:
    int dpi_;
};

// The scale of the screen the application starts on.
DesignScale primaryScreenScale();

// Puts the window's outer frame, title bar included, at `position`. Some
// window managers take a position given before the first show as the
// client area's, which would push the title bar off the top of the screen.
void placeFrameAt(QWidget &window, QPoint position);

} // namespace terralume::ui
