#pragma once
// The explorer: a page of worlds at the settings window's size, water and
// heat, seen as thumbnails with their seeds and figures, searched for on
// every core, one of which the user takes back to the settings window.

#include "PreviewSearch.h"
#include "WorldSettings.h"

#include <QDialog>
#include <QTimer>

#include <optional>

class QCheckBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace terralume::ui {

class SpokenNotice;

class TWorldExplorer : public QDialog {
    Q_OBJECT
public:
    // Worlds on a page.
    static constexpr int kPageWorlds = 12;

    struct Choice {
        QString seedText;
        bool generate = false; // chosen by a double-click, which also generates it
    };

    explicit TWorldExplorer(QWidget *parent = nullptr);

    // Shows pages of worlds like `settings` until one is chosen (returned)
    // or the window is closed. The filters stay from one opening to the next.
    std::optional<Choice> chooseWorld(const WorldSettings &settings);

    // Filters as they stand.
    FigureFilter filter() const;

public slots:
    void butMoreClick();
    void butStopClick();
    void butUseClick();

protected:
    void done(int result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void addWorld(const WorldPreview &preview);
    // Tells the outcome, which a screen reader speaks as it shows.
    void searchEnded(PreviewSearch::End end);
    void showProgress();
    void choose(QListWidgetItem *item, bool generate);

    WorldSettings settings_;
    std::optional<Choice> choice_;
    PreviewSearch search_;
    QTimer progressTimer_;
    int fewestLandmasses_ = 0; // on the page, while the landmass filter is off

    QLabel *lblWorlds = nullptr;
    QCheckBox *chkLand = nullptr;
    QSpinBox *spnLand = nullptr;
    QCheckBox *chkLandmasses = nullptr;
    QSpinBox *spnLandmasses = nullptr;
    QPushButton *butMore = nullptr;
    QListWidget *lstWorlds = nullptr;
    QLabel *lblProgress = nullptr; // while a search runs
    QLabel *lblOutcome = nullptr;  // once it has ended
    SpokenNotice *outcomeNotice_ = nullptr;
    QProgressBar *barFound = nullptr;
    QPushButton *butStop = nullptr;
    QPushButton *butUse = nullptr;
    QPushButton *butCancel = nullptr;
};

} // namespace terralume::ui
