#pragma once
// A line a screen reader speaks as soon as it is said, wherever the focus
// is. Qt 6.4's bridge sends a name or description change without its text,
// and a screen reader drops it; a notification that shows itself is read
// in full. It takes no room and draws nothing.
#include <QWidget>

namespace terralume::ui {

class SpokenNotice : public QWidget {
    Q_OBJECT
public:
    explicit SpokenNotice(QWidget *parent);

    void say(const QString &text);
    // The last thing said.
    QString said() const { return line_->accessibleName(); }

private:
    QWidget *line_;
};

} // namespace terralume::ui
