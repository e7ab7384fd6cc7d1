#include "LevelSlider.h"

#include "SpokenNotice.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>

namespace terralume::ui {

namespace {

constexpr int kTickEvery = 5;
constexpr int kPageStep = 5;

// Without a value: Qt 6.4's bridge has no way to give a value's text, so a
// screen reader would say a bare number at each move, and in its summary a
// percent of the range that means nothing here. The reading is the
// description instead, and each move is said by the notice.
QAccessibleInterface *levelSliderAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String(LevelSlider::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Slider);
}

} // namespace

LevelSlider::LevelSlider(const ScaleCaptions &captions, QWidget *parent)
    : QSlider(Qt::Vertical, parent), captions_(captions), notice_(new SpokenNotice(parent))
{
    static const bool installed = [] {
        QAccessible::installFactory(levelSliderAccessible);
        return true;
    }();
    Q_UNUSED(installed);
    setRange(-kLevelLimit, kLevelLimit);
    setValue(0);
    // The minimum stands at the top, and Up / Page Up move towards it.
    setInvertedAppearance(true);
    setInvertedControls(true);
    setTickPosition(QSlider::TicksRight);
    setTickInterval(kTickEvery);
    setSingleStep(1);
    setPageStep(kPageStep);
    describe(value());
    connect(this, &QSlider::valueChanged, this, [this](int position) {
        describe(position);
        notice_->say(accessibleDescription());
    });
}

void LevelSlider::describe(int position) { setAccessibleDescription(levelReading(captions_, position)); }

// Left moves towards the top end and Right towards the bottom, like Up and
// Down. Qt's own slider ties Left to the decreasing direction of the
// screen, which on a slider drawn upside down is the bottom.
void LevelSlider::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        const Qt::Key alongTheTrack = event->key() == Qt::Key_Left ? Qt::Key_Up : Qt::Key_Down;
        QKeyEvent translated(event->type(), alongTheTrack, event->modifiers(), event->text(), event->isAutoRepeat(),
                             event->count());
        QSlider::keyPressEvent(&translated);
        event->setAccepted(translated.isAccepted());
        return;
    }
    QSlider::keyPressEvent(event);
}

} // namespace terralume::ui
