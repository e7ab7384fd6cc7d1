#pragma once
// The captions beside the water and heat sliders, and the caption a slider
// position falls under: what the settings window prints beside a slider is
// what a screen reader says for its position, here and in the map window.

#include "WorldSettingsRules.h"

#include <QString>

#include <array>

namespace terralume::ui {

// Top (-kLevelLimit) to bottom (kLevelLimit), each caption beside the
// stretch of the slider it names.
using ScaleCaptions = std::array<const char *, 5>;
inline constexpr ScaleCaptions kWaterCaptions{"Very Dry", "Dry", "Normal", "Wet", "Very Wet"};
inline constexpr ScaleCaptions kHeatCaptions{"Very Hot", "Hot", "Normal", "Cold", "Very Cold"};

// The caption whose place on the slider is nearest the position; a position
// halfway between two goes to the one nearer the middle.
QString levelBand(const ScaleCaptions &captions, int position);

// The position as it is read out: its caption, then the number with a real
// minus sign, as in "Dry, −15".
QString levelReading(const ScaleCaptions &captions, int position);

} // namespace terralume::ui
