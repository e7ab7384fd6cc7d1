#include "TWorldExplorer.h"

#include "SpokenNotice.h"
#include "TerralumeApplication.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSpinBox>

#include <algorithm>

namespace terralume::ui {

namespace {

constexpr int kThumbnailSide = 128; // device-independent pixels
constexpr int kColumns = 4;
constexpr int kProgressEveryMs = 100;
constexpr int kMostLandmasses = 9999;
constexpr int kDefaultLeastLand = 40;

QString sizeWords(const WorldSettings &settings)
{
    return QStringLiteral("%1 worlds, water %2, heat %3")
        .arg(settings.SizeName)
        .arg(settings.WaterPosition)
        .arg(settings.HeatPosition);
}

} // namespace

TWorldExplorer::TWorldExplorer(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("WorldExplorer"));
    setWindowTitle(QStringLiteral("Explore Worlds"));
    buildControls();
    connect(&search_, &PreviewSearch::found, this, &TWorldExplorer::addWorld);
    connect(&search_, &PreviewSearch::finished, this, &TWorldExplorer::searchEnded);
    progressTimer_.setInterval(kProgressEveryMs);
    connect(&progressTimer_, &QTimer::timeout, this, &TWorldExplorer::showProgress);
}

void TWorldExplorer::buildControls()
{
    lblWorlds = new QLabel(this);
    lblWorlds->setObjectName(QStringLiteral("lblWorlds"));

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
    // A filter's number is set only while the filter is on.
    for (auto [check, spin] : {std::pair{chkLand, spnLand}, std::pair{chkLandmasses, spnLandmasses}}) {
        spin->setEnabled(false);
        connect(check, &QCheckBox::toggled, spin, &QWidget::setEnabled);
        spin->installEventFilter(this);
    }
    butMore = new QPushButton(QStringLiteral("More Worlds"), this);
    butMore->setObjectName(QStringLiteral("butMore"));

    lstWorlds = new QListWidget(this);
    lstWorlds->setObjectName(QStringLiteral("lstWorlds"));
    lstWorlds->setAccessibleName(QStringLiteral("Worlds"));
    lstWorlds->setViewMode(QListView::IconMode);
    lstWorlds->setMovement(QListView::Static);
    lstWorlds->setFlow(QListView::LeftToRight);
    lstWorlds->setWrapping(true);
    lstWorlds->setResizeMode(QListView::Adjust);
    lstWorlds->setUniformItemSizes(true);
    lstWorlds->setSelectionMode(QAbstractItemView::SingleSelection);
    lstWorlds->setWordWrap(true);
    lstWorlds->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
    lstWorlds->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Room for a thumbnail and three lines of figures under it, and a page of
    // worlds without scrolling.
    const QFontMetrics metrics = lstWorlds->fontMetrics();
    const int textWidth = std::max({metrics.horizontalAdvance(QStringLiteral("100.00 % land")),
                                    metrics.horizontalAdvance(landmassesText(kMostLandmasses)),
                                    metrics.horizontalAdvance(QStringLiteral("99999999"))});
    const QSize cell(std::max(kThumbnailSide, textWidth) + metrics.averageCharWidth() * 2,
                     kThumbnailSide + metrics.lineSpacing() * 3 + metrics.height());
    lstWorlds->setGridSize(cell);
    const int rows = (kPageWorlds + kColumns - 1) / kColumns;
    const int frame = lstWorlds->frameWidth() * 2 + lstWorlds->spacing() * 2 + 4;
    lstWorlds->setFixedSize(cell.width() * kColumns + frame + lstWorlds->verticalScrollBar()->sizeHint().width(),
                            cell.height() * rows + frame);

    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblOutcome = new QLabel(this);
    lblOutcome->setObjectName(QStringLiteral("lblOutcome"));
    lblOutcome->hide();
    outcomeNotice_ = new SpokenNotice(this);
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

    auto *filters = new QHBoxLayout;
    filters->addWidget(chkLand);
    filters->addWidget(spnLand);
    filters->addSpacing(metrics.averageCharWidth() * 2);
    filters->addWidget(chkLandmasses);
    filters->addWidget(spnLandmasses);
    filters->addStretch();
    filters->addWidget(butMore);
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
    page->addWidget(lblWorlds);
    page->addLayout(filters);
    page->addWidget(lstWorlds);
    page->addLayout(progress);
    page->addLayout(buttons);
    page->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(lstWorlds, butUse);
    setTabOrder(butUse, butCancel);
    setTabOrder(butCancel, chkLand);
    setTabOrder(chkLand, spnLand);
    setTabOrder(spnLand, chkLandmasses);
    setTabOrder(chkLandmasses, spnLandmasses);
    setTabOrder(spnLandmasses, butMore);
    setTabOrder(butMore, butStop);

    connect(butMore, &QPushButton::clicked, this, guarded(this, &TWorldExplorer::butMoreClick));
    connect(butStop, &QPushButton::clicked, this, guarded(this, &TWorldExplorer::butStopClick));
    connect(butUse, &QPushButton::clicked, this, guarded(this, &TWorldExplorer::butUseClick));
    connect(butCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(lstWorlds, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem *item) { choose(item, true); });
    connect(lstWorlds, &QListWidget::currentItemChanged, butUse,
            [this](const QListWidgetItem *current) { butUse->setEnabled(current); });
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
    settings_ = settings;
    choice_.reset();
    lblWorlds->setText(sizeWords(settings));
    butMoreClick();
    // The list takes the focus once the page is there, as Stop gives it up,
    // so that a screen reader tells the page's count rather than part of it.
    (search_.running() ? static_cast<QWidget *>(butStop) : lstWorlds)->setFocus();
    exec();
    return choice_;
}

void TWorldExplorer::butMoreClick()
{
    lstWorlds->clear();
    barFound->setValue(0);
    fewestLandmasses_ = kMostLandmasses;
    PreviewSearch::Page page;
    page.size = settings_.SizeName.toStdString();
    page.water = settings_.WaterPosition;
    page.heat = settings_.HeatPosition;
    page.filter = filter();
    // Every page starts somewhere new, drawn from the system's source: the
    // seeded source's draws belong to the worlds themselves.
    page.start = QRandomGenerator::system()->bounded(1, static_cast<int>(kHighestSearchSeed) + 1);
    page.wanted = kPageWorlds;
    page.thumbnailSide = qRound(kThumbnailSide * devicePixelRatioF());
    search_.start(page);
    butStop->setEnabled(true);
    lblOutcome->hide();
    lblProgress->show();
    progressTimer_.start();
    showProgress();
}

void TWorldExplorer::butStopClick() { search_.stop(); }

void TWorldExplorer::butUseClick() { choose(lstWorlds->currentItem(), false); }

void TWorldExplorer::choose(QListWidgetItem *item, bool generate)
{
    if (!item)
        return;
    choice_ = Choice{QString::number(item->data(Qt::UserRole).toLongLong()), generate};
    accept();
}

void TWorldExplorer::addWorld(const WorldPreview &preview)
{
    QPixmap thumbnail = QPixmap::fromImage(preview.thumbnail);
    thumbnail.setDevicePixelRatio(devicePixelRatioF());
    const WorldFigures &f = preview.figures;
    const QString text = QStringLiteral("%1\n%2 % land\n%3")
                             .arg(preview.seed)
                             .arg(QString::fromStdString(percentText(f.landCells, f.cells)))
                             .arg(landmassesText(f.landmasses));
    auto *item = new QListWidgetItem(QIcon(thumbnail), text);
    item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(preview.seed));
    item->setToolTip(figuresText(preview, true));
    item->setData(Qt::AccessibleTextRole, figuresText(preview, false));
    item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lstWorlds->addItem(item);
    if (!lstWorlds->currentItem())
        lstWorlds->setCurrentItem(item);
    fewestLandmasses_ = std::min(fewestLandmasses_, f.landmasses);
}

void TWorldExplorer::searchEnded(PreviewSearch::End end)
{
    progressTimer_.stop();
    showProgress();
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

void TWorldExplorer::showProgress()
{
    // Here rather than at each world: a screen reader drops what a program
    // tells it in a flood of events, an outcome among them.
    barFound->setValue(lstWorlds->count());
    // Worlds differ in landmasses by size and water far more than by seed:
    // until the filter is used, it offers the fewest seen, so that turning
    // it on asks for worlds at least as whole as the best on the page.
    if (!chkLandmasses->isChecked() && lstWorlds->count() > 0)
        spnLandmasses->setValue(fewestLandmasses_);
    lblProgress->setText(QStringLiteral("Looked at %1 worlds, found %2 of %3")
                             .arg(QLocale().toString(search_.looked()))
                             .arg(lstWorlds->count())
                             .arg(kPageWorlds));
}

void TWorldExplorer::done(int result)
{
    // A closed explorer searches no further.
    search_.stop();
    progressTimer_.stop();
    QDialog::done(result);
}

bool TWorldExplorer::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in a filter's number looks for worlds with it rather than taking
    // the world that happens to be selected.
    if (event->type() == QEvent::KeyPress && (watched == spnLand || watched == spnLandmasses)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QSpinBox *>(watched)->interpretText();
            butMore->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace terralume::ui
