#include "TWorldExplorer.h"

#include "LevelBands.h"
#include "LevelSlider.h"
#include "SizeList.h"
#include "SpokenNotice.h"
#include "TerralumeApplication.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyledItemDelegate>

#include <algorithm>

namespace terralume::ui {

namespace {

constexpr int kStartingThumbnail = 128; // device-independent pixels, before the window is resized
constexpr int kColumns = 4;             // of the page at first
constexpr int kProgressEveryMs = 100;
constexpr int kRemakeAfterResizeMs = 50;
constexpr int kMostLandmasses = 9999;
constexpr int kDefaultLeastLand = 40;

QString rarityText(std::int64_t accepted, std::int64_t seen)
{
    const QLocale locale;
    if (accepted == 0)
        return QStringLiteral("None of the %1 worlds seen here passes the filters").arg(locale.toString(seen));
    return QStringLiteral("About 1 in %1 of the worlds seen here passes the filters")
        .arg(locale.toString(roughlyOneIn(accepted, seen)));
}

QString spreadText(const FigureSpread &spread)
{
    // Whole percents, as the filter takes them: each bound is one a filter can ask for.
    return QStringLiteral("%1 worlds seen at this size and water: land %2\u2013%3 %, landmasses %4\u2013%5")
        .arg(QLocale().toString(spread.worlds()))
        .arg(spread.land().lowest / 100)
        .arg(spread.land().highest / 100)
        .arg(spread.landmasses().lowest)
        .arg(spread.landmasses().highest);
}

// A slider under its caption, the captions of its stretches beside it, as
// in the settings window.
QWidget *levelColumn(QWidget *parent, const QString &caption, LevelSlider *slider, const ScaleCaptions &captions)
{
    auto *column = new QWidget(parent);
    auto *grid = new QGridLayout(column);
    grid->setContentsMargins(0, 0, 0, 0);
    auto *label = new QLabel(caption, column);
    label->setBuddy(slider);
    slider->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    slider->setMinimumHeight(label->sizeHint().height() * 8);
    grid->addWidget(label, 0, 0, 1, 2);
    grid->addWidget(slider, 1, 0, static_cast<int>(captions.size()), 1);
    for (std::size_t i = 0; i < captions.size(); ++i)
        grid->addWidget(new QLabel(QString::fromLatin1(captions[i]), column), static_cast<int>(i) + 1, 1);
    return column;
}

// The chosen world is framed: its thumbnail keeps the world's own colours.
class FramedThumbnails : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!option.state.testFlag(QStyle::State_Selected))
            return;
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QWidget *view = option.widget;
        const QStyle *style = view ? view->style() : QApplication::style();
        const QRect picture = style->subElementRect(QStyle::SE_ItemViewItemDecoration, &item, view);
        const int width = std::max(2, item.fontMetrics.height() / 5);
        painter->save();
        painter->setPen(QPen(option.palette.brush(QPalette::Highlight), width, Qt::SolidLine, Qt::SquareCap,
                             Qt::MiterJoin));
        painter->setBrush(Qt::NoBrush);
        const int out = width / 2 + 1;
        painter->drawRect(picture.adjusted(-out, -out, out, out));
        painter->restore();
    }
};

} // namespace

TWorldExplorer::TWorldExplorer(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("WorldExplorer"));
    setWindowTitle(QStringLiteral("Explore Worlds"));
    setSizeGripEnabled(true);
    buildControls();
    connect(&search_, &PreviewSearch::found, this, &TWorldExplorer::addWorld);
    connect(&search_, &PreviewSearch::finished, this, &TWorldExplorer::searchEnded);
    progressTimer_.setInterval(kProgressEveryMs);
    connect(&progressTimer_, &QTimer::timeout, this, &TWorldExplorer::showProgress);
    filterTimer_.setSingleShot(true);
    filterTimer_.setInterval(kFilterSettleMs);
    connect(&filterTimer_, &QTimer::timeout, this, guarded(this, &TWorldExplorer::searchAgain));
    fitTimer_.setSingleShot(true);
    fitTimer_.setInterval(kRemakeAfterResizeMs);
    connect(&fitTimer_, &QTimer::timeout, this, guarded(this, &TWorldExplorer::remakeThumbnails));
}

QSize TWorldExplorer::cellFor(int side) const
{
    const QFontMetrics metrics = lstWorlds->fontMetrics();
    const int textWidth = std::max({metrics.horizontalAdvance(QStringLiteral("100.00 % land")),
                                    metrics.horizontalAdvance(landmassesText(kMostLandmasses)),
                                    metrics.horizontalAdvance(QStringLiteral("99999999"))});
    return {std::max(side, textWidth) + metrics.averageCharWidth() * 2, side + metrics.lineSpacing() * 3 + metrics.height()};
}

QSize TWorldExplorer::listSizeFor(int side) const
{
    const QSize cell = cellFor(side);
    const int rows = (kPageWorlds + kColumns - 1) / kColumns;
    const int frame = lstWorlds->frameWidth() * 2 + lstWorlds->spacing() * 2 + 4;
    return {cell.width() * kColumns + frame + lstWorlds->verticalScrollBar()->sizeHint().width(),
            cell.height() * rows + frame};
}

void TWorldExplorer::buildControls()
{
    chkLand = new QCheckBox(QStringLiteral("Land at least"), this);
    chkLand->setObjectName(QStringLiteral("chkLand"));
    spnLand = new QSpinBox(this);
    spnLand->setObjectName(QStringLiteral("spnLand"));
    spnLand->setRange(0, 100);
    spnLand->setSuffix(QStringLiteral(" %"));
    spnLand->setValue(kDefaultLeastLand);
    spnLand->setAccessibleName(QStringLiteral("Land at least, percent"));
    chkLandmasses = new QCheckBox(QStringLiteral("At most"), this);
    chkLandmasses->setObjectName(QStringLiteral("chkLandmasses"));
    spnLandmasses = new QSpinBox(this);
    spnLandmasses->setObjectName(QStringLiteral("spnLandmasses"));
    spnLandmasses->setRange(0, kMostLandmasses);
    spnLandmasses->setSuffix(QStringLiteral(" landmasses"));
    spnLandmasses->setAccessibleName(QStringLiteral("At most, landmasses"));
    // A filter's number is set only while the filter is on; either acts at
    // once, when it has stayed a moment as it is.
    for (auto [check, spin] : {std::pair{chkLand, spnLand}, std::pair{chkLandmasses, spnLandmasses}}) {
        spin->setEnabled(false);
        connect(check, &QCheckBox::toggled, spin, &QWidget::setEnabled);
        connect(check, &QCheckBox::toggled, this, guarded(this, &TWorldExplorer::filterChanged));
        connect(spin, &QSpinBox::valueChanged, this, guarded(this, &TWorldExplorer::filterChanged));
        spin->installEventFilter(this);
    }
    butMore = new QPushButton(QStringLiteral("More Worlds"), this);
    butMore->setObjectName(QStringLiteral("butMore"));
    lblSpread = new QLabel(this);
    lblSpread->setObjectName(QStringLiteral("lblSpread"));
    lblRarity = new QLabel(this);
    lblRarity->setObjectName(QStringLiteral("lblRarity"));

    lstWorlds = new QListWidget(this);
    lstWorlds->setObjectName(QStringLiteral("lstWorlds"));
    lstWorlds->setAccessibleName(QStringLiteral("Worlds"));
    lstWorlds->setViewMode(QListView::IconMode);
    lstWorlds->setMovement(QListView::Static);
    lstWorlds->setFlow(QListView::LeftToRight);
    lstWorlds->setWrapping(true);
    lstWorlds->setResizeMode(QListView::Adjust);
    lstWorlds->setSelectionMode(QAbstractItemView::SingleSelection);
    lstWorlds->setWordWrap(true);
    lstWorlds->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lstWorlds->setIconSize(QSize(kStartingThumbnail, kStartingThumbnail));
    lstWorlds->setGridSize(cellFor(kStartingThumbnail));
    thumbnailSide_ = kStartingThumbnail;
    // Room for a page of the smallest thumbnails without scrolling; the
    // window opens with room for larger ones, and they grow with it.
    lstWorlds->setMinimumSize(listSizeFor(kSmallestThumbnail));
    lstWorlds->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    lstWorlds->installEventFilter(this);
    lstWorlds->setItemDelegate(new FramedThumbnails(lstWorlds));

    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblOutcome = new QLabel(this);
    lblOutcome->setObjectName(QStringLiteral("lblOutcome"));
    lblOutcome->hide();
    outcomeNotice_ = new SpokenNotice(this);
    outcomeNotice_->setObjectName(QStringLiteral("outcomeNotice"));
    barFound = new QProgressBar(this);
    barFound->setObjectName(QStringLiteral("barFound"));
    barFound->setRange(0, kPageWorlds);
    barFound->setFormat(QStringLiteral("%v of %m"));
    barFound->setAccessibleName(QStringLiteral("Worlds found"));
    butStop = new QPushButton(QStringLiteral("Stop"), this);
    butStop->setObjectName(QStringLiteral("butStop"));
    butStop->setEnabled(false);

    butUse = new QPushButton(QStringLiteral("Use This World"), this);
    butUse->setObjectName(QStringLiteral("butUse"));
    // Unavailable while no world is chosen, as a screen reader then says.
    butUse->setDefault(true);
    butUse->setEnabled(false);
    butCancel = new QPushButton(QStringLiteral("Cancel"), this);
    butCancel->setObjectName(QStringLiteral("butCancel"));

    const QFontMetrics metrics = fontMetrics();
    auto *filters = new QHBoxLayout;
    filters->addWidget(chkLand);
    filters->addWidget(spnLand);
    filters->addSpacing(metrics.averageCharWidth() * 2);
    filters->addWidget(chkLandmasses);
    filters->addWidget(spnLandmasses);
    filters->addStretch();
    filters->addWidget(butMore);
    auto *worlds = new QHBoxLayout;
    worlds->addWidget(lstWorlds, 1);
    worlds->addLayout(buildSettings());
    auto *progress = new QHBoxLayout;
    progress->addWidget(lblProgress, 1);
    progress->addWidget(lblOutcome, 1);
    progress->addWidget(barFound);
    progress->addWidget(butStop);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(butUse);
    buttons->addWidget(butCancel);
    auto *page = new QVBoxLayout(this);
    page->addLayout(filters);
    page->addWidget(lblSpread);
    page->addWidget(lblRarity);
    page->addLayout(worlds, 1);
    page->addLayout(progress);
    page->addLayout(buttons);
    layout()->activate();
    resize(minimumSizeHint() + listSizeFor(kStartingThumbnail) - listSizeFor(kSmallestThumbnail));

    setTabOrder(lstWorlds, butUse);
    setTabOrder(butUse, butCancel);
    setTabOrder(butCancel, chkLand);
    setTabOrder(chkLand, spnLand);
    setTabOrder(spnLand, chkLandmasses);
    setTabOrder(chkLandmasses, spnLandmasses);
    setTabOrder(spnLandmasses, butMore);
    setTabOrder(butMore, butStop);
    setTabOrder(butStop, lstSize);
    setTabOrder(lstSize, trkWater);
    setTabOrder(trkWater, trkHeat);

    connect(butMore, &QPushButton::clicked, this, guarded(this, &TWorldExplorer::butMoreClick));
    connect(butStop, &QPushButton::clicked, this, guarded(this, &TWorldExplorer::butStopClick));
    connect(butUse, &QPushButton::clicked, this, guarded(this, &TWorldExplorer::butUseClick));
    connect(butCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstWorlds, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) { choose(item, true); });
    connect(lstWorlds, &QListWidget::currentItemChanged, butUse,
            [this](const QListWidgetItem *current) { butUse->setEnabled(current); });
    connect(lstSize, &QComboBox::currentTextChanged, this, guarded(this, &TWorldExplorer::sizeOrWaterChanged));
    connect(trkWater, &QSlider::valueChanged, this, guarded(this, &TWorldExplorer::sizeOrWaterChanged));
    connect(trkHeat, &QSlider::valueChanged, this, guarded(this, &TWorldExplorer::heatChanged));
}

// The settings window's size list and sliders, with their captions.
QLayout *TWorldExplorer::buildSettings()
{
    lstSize = newSizeList(this);
    lstSize->setObjectName(QStringLiteral("lstSize"));
    addSizes(lstSize);
    // Access keys reach the settings from anywhere in the explorer, the
    // page still filling or not.
    auto *sizeLabel = new QLabel(QStringLiteral("&Size"), this);
    sizeLabel->setBuddy(lstSize);
    trkWater = new LevelSlider(kWaterCaptions, this);
    trkWater->setObjectName(QStringLiteral("trkWater"));
    trkHeat = new LevelSlider(kHeatCaptions, this);
    trkHeat->setObjectName(QStringLiteral("trkHeat"));
    auto *levels = new QHBoxLayout;
    levels->addWidget(levelColumn(this, QStringLiteral("&Water Level"), trkWater, kWaterCaptions));
    levels->addWidget(levelColumn(this, QStringLiteral("&Heat"), trkHeat, kHeatCaptions));
    auto *settings = new QVBoxLayout;
    settings->addWidget(sizeLabel);
    settings->addWidget(lstSize);
    settings->addLayout(levels);
    settings->addStretch();
    return settings;
}

FigureFilter TWorldExplorer::filter() const
{
    FigureFilter filter;
    if (chkLand->isChecked())
        filter.landLowest = std::int64_t{spnLand->value()} * 100;
    if (chkLandmasses->isChecked())
        filter.landmassesHighest = spnLandmasses->value();
    return filter;
}

std::optional<TWorldExplorer::Choice> TWorldExplorer::chooseWorld(const WorldSettings &settings)
{
    // The settings first, so that the controls' changes find nothing to do.
    settings_ = settings;
    lstSize->setCurrentText(settings.SizeName);
    trkWater->setValue(settings.WaterPosition);
    trkHeat->setValue(settings.HeatPosition);
    choice_.reset();
    butMoreClick();
    // The list takes the focus once the page is there, as Stop gives it up,
    // so that a screen reader tells the page's count rather than part of it.
    (search_.running() ? static_cast<QWidget *>(butStop) : lstWorlds)->setFocus();
    exec();
    return choice_;
}

void TWorldExplorer::butMoreClick()
{
    // Every page starts somewhere new, drawn from the system's source: the
    // seeded source's draws belong to the worlds themselves.
    pageStart_ = QRandomGenerator::system()->bounded(1, static_cast<int>(kHighestSearchSeed) + 1);
    searchAgain();
}

void TWorldExplorer::searchAgain()
{
    filterTimer_.stop();
    takeSeen();
    lstWorlds->clear();
    page_.clear();
    barFound->setValue(0);
    PreviewSearch::Page page;
    page.size = settings_.SizeName.toStdString();
    page.water = settings_.WaterPosition;
    page.heat = settings_.HeatPosition;
    page.filter = filter();
    page.start = pageStart_;
    page.wanted = kPageWorlds;
    page.thumbnailSide = thumbnailPixels();
    searched_ = page.filter;
    searchedSizeAndWater_ = {settings_.SizeName, settings_.WaterPosition};
    searchedHeat_ = page.heat;
    searchedSide_ = page.thumbnailSide;
    search_.start(page);
    butStop->setEnabled(true);
    lblOutcome->hide();
    lblProgress->show();
    progressTimer_.start();
    showProgress();
}

void TWorldExplorer::filterChanged()
{
    if (filter() == searched_)
        filterTimer_.stop();
    else
        filterTimer_.start();
    showSpread();
}

void TWorldExplorer::sizeOrWaterChanged()
{
    const QString size = lstSize->currentText();
    const int water = trkWater->value();
    if (size == settings_.SizeName && water == settings_.WaterPosition)
        return;
    settings_.SizeName = size;
    settings_.WaterPosition = water;
    searchAgain();
}

void TWorldExplorer::heatChanged()
{
    // The heat colours a world and changes nothing of its grid: the page
    // stays, seen in the new colours.
    const int position = trkHeat->value();
    if (position == settings_.HeatPosition)
        return;
    settings_.HeatPosition = position;
    remakeThumbnails();
}

void TWorldExplorer::butStopClick() { search_.stop(); }

void TWorldExplorer::butUseClick() { choose(lstWorlds->currentItem(), false); }

void TWorldExplorer::choose(QListWidgetItem *item, bool generate)
{
    if (!item)
        return;
    choice_ = Choice{QString::number(item->data(Qt::UserRole).toLongLong()), settings_.SizeName,
                     settings_.WaterPosition, settings_.HeatPosition, generate};
    accept();
}

int TWorldExplorer::thumbnailPixels() const { return qRound(thumbnailSide_ * devicePixelRatioF()); }

QIcon TWorldExplorer::thumbnailOf(const WorldPreview &preview) const
{
    QPixmap thumbnail = QPixmap::fromImage(preview.thumbnail);
    thumbnail.setDevicePixelRatio(devicePixelRatioF());
    // The chosen world keeps its colours: the list marks it around them.
    QIcon icon;
    icon.addPixmap(thumbnail, QIcon::Normal);
    icon.addPixmap(thumbnail, QIcon::Selected);
    return icon;
}

void TWorldExplorer::remakeThumbnails()
{
    const Tint tint = tintFromHeatPosition(settings_.HeatPosition);
    const int side = thumbnailPixels();
    for (std::size_t i = 0; i < page_.size(); ++i) {
        WorldPreview &preview = page_[i];
        if (preview.world)
            preview.thumbnail = worldThumbnail(*preview.world, tint, side);
        lstWorlds->item(static_cast<int>(i))->setIcon(thumbnailOf(preview));
    }
}

void TWorldExplorer::addWorld(const WorldPreview &found)
{
    WorldPreview preview = found;
    // Made before the heat or the window last changed.
    if (preview.world && (searchedHeat_ != settings_.HeatPosition || searchedSide_ != thumbnailPixels()))
        preview.thumbnail =
            worldThumbnail(*preview.world, tintFromHeatPosition(settings_.HeatPosition), thumbnailPixels());
    const WorldFigures &f = preview.figures;
    const QString text = QStringLiteral("%1\n%2 % land\n%3")
                             .arg(preview.seed)
                             .arg(QString::fromStdString(percentText(f.landCells, f.cells)))
                             .arg(landmassesText(f.landmasses));
    auto *item = new QListWidgetItem(thumbnailOf(preview), text);
    item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(preview.seed));
    item->setToolTip(figuresText(preview, true));
    item->setData(Qt::AccessibleTextRole, figuresText(preview, false));
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    page_.push_back(std::move(preview));
    lstWorlds->addItem(item);
    if (!lstWorlds->currentItem())
        selectFirst(item);
}

void TWorldExplorer::selectFirst(QListWidgetItem *item)
{
    if (lstWorlds->hasFocus()) {
        lstWorlds->setCurrentItem(item);
        return;
    }
    // Qt 6.4's list view tells a screen reader that its new current item has
    // the focus even when the list has not: a page filling while the person
    // is at a filter would take the screen reader there. The list is told
    // nothing of this choice; it learns it when it paints or takes the focus.
    {
        const QSignalBlocker quiet(lstWorlds->selectionModel());
        lstWorlds->selectionModel()->setCurrentIndex(lstWorlds->indexFromItem(item),
                                                     QItemSelectionModel::ClearAndSelect);
    }
    lstWorlds->viewport()->update();
    butUse->setEnabled(true);
}

void TWorldExplorer::searchEnded(PreviewSearch::End end)
{
    progressTimer_.stop();
    showProgress();
    // The page, rather than the next control along, takes the focus Stop
    // gives up, also before the window is active.
    if (focusWidget() == butStop)
        lstWorlds->setFocus();
    butStop->setEnabled(false);
    const QString looked = QLocale().toString(search_.looked());
    const int found = lstWorlds->count();
    const QString outcome = end == PreviewSearch::End::AllFound ? QStringLiteral("Found %1 worlds").arg(found)
                            : end == PreviewSearch::End::Stopped
                                ? QStringLiteral("Stopped after %1 worlds, found %2").arg(looked).arg(found)
                                : QStringLiteral("Looked at every seed, found %1").arg(found);
    lblProgress->hide();
    lblOutcome->setText(outcome);
    lblOutcome->show();
    // Qt 6.4's bridge does not tell a screen reader a label's new text.
    outcomeNotice_->say(outcome);
}

FigureSpread &TWorldExplorer::spread() { return spreads_[{settings_.SizeName, settings_.WaterPosition}]; }

void TWorldExplorer::takeSeen()
{
    FigureSpread &seen = spreads_[searchedSizeAndWater_];
    for (const WorldFigures &figures : search_.takeSeen())
        seen.see(figures);
}

void TWorldExplorer::showProgress()
{
    // Here rather than at each world: a screen reader drops what a program
    // tells it in a flood of events, an outcome among them.
    takeSeen();
    barFound->setValue(lstWorlds->count());
    lblProgress->setText(QStringLiteral("Looked at %1 worlds, found %2 of %3")
                             .arg(QLocale().toString(search_.looked()))
                             .arg(lstWorlds->count())
                             .arg(kPageWorlds));
    showSpread();
}

void TWorldExplorer::showSpread()
{
    const FigureSpread &seen = spread();
    lblSpread->setVisible(seen.worlds() > 0);
    if (seen.worlds() > 0)
        lblSpread->setText(spreadText(seen));
    // Until a filter is used its number follows the worlds at this size and
    // water: what a quarter of them reach, so that turning it on fills a
    // page soon whatever the size.
    if (seen.worlds() >= kPageWorlds) {
        if (!chkLand->isChecked())
            spnLand->setValue(static_cast<int>(seen.landUpperQuartile() / 100));
        if (!chkLandmasses->isChecked())
            spnLandmasses->setValue(seen.landmassesLowerQuartile());
    }
    const FigureFilter asked = filter();
    const std::int64_t accepted = seen.accepted(asked);
    const bool rare = asked != FigureFilter{} && seen.worlds() - accepted >= kRejectedBeforeRarity;
    lblRarity->setVisible(rare);
    if (rare)
        lblRarity->setText(rarityText(accepted, seen.worlds()));
}

void TWorldExplorer::fitThumbnails()
{
    // The side at which a page of worlds fills the list's room best, over
    // every number of columns it may flow into.
    const QRect room = lstWorlds->contentsRect().adjusted(
        0, 0, -lstWorlds->verticalScrollBar()->sizeHint().width() - 2 * lstWorlds->spacing() - 4,
        -2 * lstWorlds->spacing() - 4);
    const int textHeight = cellFor(0).height();
    int best = 0;
    for (int columns = 1; columns <= kPageWorlds; ++columns) {
        const int rows = (kPageWorlds + columns - 1) / columns;
        const int byWidth = room.width() / columns - (cellFor(kLargestThumbnail).width() - kLargestThumbnail);
        const int byHeight = room.height() / rows - textHeight;
        best = std::max(best, std::min(byWidth, byHeight));
    }
    const int side = std::clamp(best, kSmallestThumbnail, kLargestThumbnail);
    if (side == thumbnailSide_)
        return;
    thumbnailSide_ = side;
    lstWorlds->setIconSize(QSize(side, side));
    lstWorlds->setGridSize(cellFor(side));
    fitTimer_.start();
}

void TWorldExplorer::done(int result)
{
    // A closed explorer searches no further.
    search_.stop();
    progressTimer_.stop();
    filterTimer_.stop();
    QDialog::done(result);
}

bool TWorldExplorer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lstWorlds && event->type() == QEvent::Resize)
        fitThumbnails();
    // Enter in a filter's number looks for worlds with it at once rather
    // than taking the world that happens to be selected.
    if (event->type() == QEvent::KeyPress && (watched == spnLand || watched == spnLandmasses)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QSpinBox *>(watched)->interpretText();
            searchAgain();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace terralume::ui
