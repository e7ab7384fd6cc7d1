#include "DrawStream.h"

namespace terralume {

namespace {
constexpr detail::LcgJump kBlockJump = detail::lcgJump(DrawStream::kBlock);
}

DrawStream::DrawStream(SeededRandom &source) : source_(source), start_(source.seedWord())
{
    std::uint32_t state = start_;
    for (auto &s : states_) {
        state = lcgStep(state);
        s = state;
    }
}

DrawStream::~DrawStream()
{
    if (taken_ > 0)
        source_.setSeedWord(states_[pos_ - 1]);
}

void DrawStream::refill()
{
    for (auto &s : states_)
        s = s * kBlockJump.multiplier + kBlockJump.increment;
    pos_ = 0;
}

} // namespace terralume
