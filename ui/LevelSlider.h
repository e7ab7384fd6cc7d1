#pragma once
// The water or heat slider: drawn with its minimum at the top, moved along
// its track by all four arrows, and read out by a screen reader as the
// caption beside its position with the number ("Dry, −15") at focus and at
// every move.
#include "LevelBands.h"

#include <QSlider>

namespace terralume::ui {

class SpokenNotice;

class LevelSlider : public QSlider {
    Q_OBJECT
public:
    LevelSlider(const ScaleCaptions &captions, QWidget *parent);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void describe(int position);

    ScaleCaptions captions_;
    SpokenNotice *notice_;
};

} // namespace terralume::ui
