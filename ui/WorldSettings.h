#pragma once
// The five values of the settings window as they stood when Generate was
// pressed. The map window and printing work from this copy: the settings
// window takes no input while a map is open, so it cannot go stale.

#include "WorldSettingsRules.h"

#include <QString>

namespace terralume::ui {

struct WorldSettings {
    QString SizeName = QString::fromLatin1(kDefaultSize);
    QString SeedText = QString::fromLatin1(kDefaultSeedText);
    int WaterPosition = kDefaultWater; // -kLevelLimit (very dry) .. kLevelLimit (very wet)
    int HeatPosition = kDefaultHeat;   // -kLevelLimit (very hot) .. kLevelLimit (very cold)
    QString Title;
};

} // namespace terralume::ui
