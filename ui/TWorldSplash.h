#pragma once
// The about window: the banner, what the program is, its version and where
// it lives on the web. Created once, hidden, and shown again on every About.

#include <QDialog>

class QPushButton;

namespace terralume::ui {

class TWorldSplash : public QDialog {
    Q_OBJECT
public:
    explicit TWorldSplash(QWidget *parent = nullptr);

    static QString webAddress();

public slots:
    void butOKClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QPushButton *butOK = nullptr;
};

} // namespace terralume::ui
