#pragma once
// The hourglass for a long operation, then the default cursor on every way
// out (not the one shown before, so no override outlives a failure). Guards
// nest: an inner one ending leaves the outer one's hourglass in place.

#include <QCursor>
#include <QGuiApplication>

namespace terralume::ui {

class WaitCursor {
public:
    WaitCursor()
    {
        if (depth_++ == 0)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~WaitCursor()
    {
        if (--depth_ > 0)
            return;
        while (QGuiApplication::overrideCursor() != nullptr)
            QGuiApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;

private:
    // All on the one thread of the windows.
    static inline int depth_ = 0;
};

} // namespace terralume::ui
