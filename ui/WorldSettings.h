#pragma once
// The five values of the settings window as they stood when Generate was
// pressed. The map window and printing work from this copy: the settings
// window takes no input while a map is open, so it cannot go stale.

#include <QString>

namespace terralume::ui {

struct WorldSettings {
    QString SizeName = QStringLiteral("Small");
    QString SeedText = QStringLiteral("42861244");
    int WaterPosition = 0; // -40 (very dry) .. 40 (very wet)
    int HeatPosition = 0;  // -40 (very hot) .. 40 (very cold)
    QString Title;
};

} // namespace terralume::ui
