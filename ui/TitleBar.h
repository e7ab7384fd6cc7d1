#pragma once
// The title bar of the program's fixed-size windows: the system menu,
// minimise and close, and no maximise (the map window maximises itself when
// its picture does not fit the screen). The window's type comes beside it.

#include <Qt>

namespace terralume::ui {

constexpr Qt::WindowFlags titleBarButtons()
{
    return Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
           Qt::WindowCloseButtonHint;
}

} // namespace terralume::ui
