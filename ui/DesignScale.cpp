#include "DesignScale.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

namespace terralume::ui {

DesignScale primaryScreenScale()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return DesignScale(screen ? static_cast<int>(std::lround(screen->logicalDotsPerInch())) : kDesignDpi);
}

} // namespace terralume::ui
