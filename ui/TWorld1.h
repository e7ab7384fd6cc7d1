#pragma once
// The settings window: the program's main window, holding the five world
// settings, Generate, Exit and the World and Help menus.

#include "WorldSettings.h"

#include <QByteArray>
#include <QMainWindow>

#include <optional>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;

namespace terralume {
class SeededRandom;
}

namespace terralume::ui {

class TWorldExplorer;
class TWorldScr;
class TWorldSplash;

class TWorld1 : public QMainWindow {
    Q_OBJECT
public:
    // `random` is the one seeded source of the run; the window loads the
    // seed text into it at creation and at every Generate.
    explicit TWorld1(SeededRandom &random, QWidget *parent = nullptr);

    // The window Generate shows; created after this one, so handed in later.
    void setMapWindow(TWorldScr *mapWindow) { mapWindow_ = mapWindow; }
    // The about window About shows; created after the map window.
    void setAboutWindow(TWorldSplash *aboutWindow) { aboutWindow_ = aboutWindow; }

    // The controls' values as they stand now.
    WorldSettings currentSettings() const;

    // Fills size, seed, water, heat and title from the world a saved picture
    // records; throws, changing nothing, when it records none. `file` is the
    // name as the file system takes it (bytes on Linux, UTF-8 on Windows).
    void loadPictureSettings(const QByteArray &file);

public slots:
    void butGenerateClick();
    void butNewSeedClick();
    void butExitClick();
    void ExploreWorlds1Click();
    void Help2Click();
    void About1Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void FormCreate();
    // Types `seed` over the field's text, so that the field's undo brings
    // back the seed it replaced.
    void replaceSeed(const QString &seed);
    // Undoing the seed of a world taken from the explorer puts back the
    // size, water and heat it came with.
    void seedTextChanged(const QString &text);

    SeededRandom &random_;
    TWorldScr *mapWindow_ = nullptr;
    TWorldSplash *aboutWindow_ = nullptr;
    TWorldExplorer *explorer_ = nullptr; // made at the first Explore Worlds
    std::optional<WorldSettings> beforeChoice_; // while the explorer's seed stands
    QString chosenSeed_;

    QComboBox *lstSize = nullptr;
    QLineEdit *edRandSeed = nullptr;
    QPushButton *butNewSeed = nullptr;
    QSlider *trkWater = nullptr;
    QSlider *trkHeat = nullptr;
    QLineEdit *edTitle = nullptr;
    QPushButton *butGenerate = nullptr;
    QPushButton *butExit = nullptr;
    QMenu *World2 = nullptr;
    QAction *ExploreWorlds1 = nullptr;
    QMenu *Help1 = nullptr;
    QAction *Help2 = nullptr;
    QAction *About1 = nullptr;
};

} // namespace terralume::ui
