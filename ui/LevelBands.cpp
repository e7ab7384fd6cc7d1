#include "LevelBands.h"

#include <algorithm>
#include <cstdlib>

namespace terralume::ui {

namespace {

constexpr int kMiddle = static_cast<int>(kWaterCaptions.size()) / 2;
// The captions stand evenly from one end of the slider to the other.
constexpr int kCaptionStep = 2 * kLevelLimit / (static_cast<int>(kWaterCaptions.size()) - 1);
static_assert(kWaterCaptions.size() == kHeatCaptions.size());
static_assert(kCaptionStep * kMiddle == kLevelLimit, "a caption stands at either end and one in the middle");

} // namespace

QString levelBand(const ScaleCaptions &captions, int position)
{
    const int clamped = std::clamp(position, -kLevelLimit, kLevelLimit);
    // Rounded to the nearest caption, halves towards the middle.
    const int away = (std::abs(clamped) + kCaptionStep / 2 - 1) / kCaptionStep;
    return QString::fromLatin1(captions[static_cast<std::size_t>(kMiddle + (clamped < 0 ? -away : away))]);
}

QString levelReading(const ScaleCaptions &captions, int position)
{
    const QString number =
        position < 0 ? QChar(0x2212) + QString::number(-static_cast<long long>(position)) : QString::number(position);
    return levelBand(captions, position) + QStringLiteral(", ") + number;
}

} // namespace terralume::ui
