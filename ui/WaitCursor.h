#pragma once
// The hourglass for the length of a long operation, and the default cursor
// after it on every way out, exceptions included: not whatever cursor was
// shown before, so no override can outlive a failed operation. Guards nest:
// an inner one ending leaves the hourglass of an outer one in place.

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
