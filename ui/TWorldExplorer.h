#pragma once
// The explorer: a page of worlds seen as thumbnails with their seeds and
// figures, searched for on every core as the filters, the size, the water
// and the heat are changed, one of which the user takes back to the
// settings window.

#include "FigureSpread.h"
#include "PreviewSearch.h"
#include "WorldSettings.h"

#include <QDialog>
#include <QTimer>

#include <map>
#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace terralume::ui {

class LevelSlider;
class SpokenNotice;

class TWorldExplorer : public QDialog {
    Q_OBJECT
public:
    // Worlds on a page.
    static constexpr int kPageWorlds = 12;
    // The sides thumbnails keep to as the window grows and shrinks, in
    // device-independent pixels.
    static constexpr int kSmallestThumbnail = 96;
    static constexpr int kLargestThumbnail = 256;
    // How long the filters stay unchanged before the page is looked for again.
    static constexpr int kFilterSettleMs = 200;
    // Worlds a filter turns away before it is said how rare its worlds are.
    static constexpr int kRejectedBeforeRarity = 300;

    struct Choice {
        QString seedText;
        QString sizeName;
        int waterPosition = 0;
        int heatPosition = 0;
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
    QLayout *buildSettings();
    // Looks for the page again from its first seed, with the settings and
    // filters as they stand.
    void searchAgain();
    void filterChanged();
    void sizeOrWaterChanged();
    void heatChanged();
    void addWorld(const WorldPreview &preview);
    // The first world of a page becomes the chosen one.
    void selectFirst(QListWidgetItem *item);
    // Tells the outcome, which a screen reader speaks as it shows.
    void searchEnded(PreviewSearch::End end);
    void showProgress();
    // The worlds looked at so far, and what they say of the filters.
    void showSpread();
    // Thumbnails as large as the list's room allows a page of them.
    void fitThumbnails();
    // A thumbnail's place in the list, its figures under it.
    QSize cellFor(int side) const;
    // The list's room for a page of thumbnails at kColumns across.
    QSize listSizeFor(int side) const;
    QIcon thumbnailOf(const WorldPreview &preview) const;
    void remakeThumbnails();
    void choose(QListWidgetItem *item, bool generate);
    FigureSpread &spread();
    void takeSeen();
    int thumbnailPixels() const;

    WorldSettings settings_;
    std::optional<Choice> choice_;
    PreviewSearch search_;
    QTimer progressTimer_;
    QTimer filterTimer_;
    QTimer fitTimer_;
    std::int64_t pageStart_ = 1;
    // What the search under way or last was asked for.
    FigureFilter searched_;
    std::pair<QString, int> searchedSizeAndWater_;
    int searchedHeat_ = 0;
    int searchedSide_ = 0; // in pixels
    int thumbnailSide_ = 128; // device-independent pixels
    std::vector<WorldPreview> page_; // in the list's order
    std::map<std::pair<QString, int>, FigureSpread> spreads_; // by size and water

    QLabel *lblWorlds = nullptr;
    QCheckBox *chkLand = nullptr;
    QSpinBox *spnLand = nullptr;
    QCheckBox *chkLandmasses = nullptr;
    QSpinBox *spnLandmasses = nullptr;
    QPushButton *butMore = nullptr;
    QLabel *lblSpread = nullptr;
    QLabel *lblRarity = nullptr;
    QComboBox *lstSize = nullptr;
    LevelSlider *trkWater = nullptr;
    LevelSlider *trkHeat = nullptr;
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
