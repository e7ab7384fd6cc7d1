#pragma once
// The hourglass for the length of a scope, restored on every way out,
// exceptions included. Nested guards stack, so an inner one ending does not
// clear the hourglass of an outer one.

#include <QApplication>
#include <QCursor>

namespace terralume::ui {

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace terralume::ui
