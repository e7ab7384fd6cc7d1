#include "TWorld1.h"

#include "DesignScale.h"
#include "HelpWindow.h"
#include "LevelBands.h"
#include "SeededRandom.h"
#include "SpokenNotice.h"
#include "LevelSlider.h"
#include "SizeList.h"
#include "LineEditAccessible.h"
#include "TWorldExplorer.h"
#include "TWorldScr.h"
#include "TWorldSplash.h"
#include "TerralumeApplication.h"
#include "TitleBar.h"
#include "WorldRecord.h"
#include "WorldSettingsRules.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSlider>

#include <array>
#include <limits>

namespace terralume::ui {

namespace {

// The window's client area and controls, in design pixels.
constexpr QSize kClientSize{368, 280};
constexpr QPoint kWindowPosition{43, 113};
constexpr int kLabelHeight = 16;
// The design's font size; the face is the system's own.
constexpr int kFontPointSize = 8;

struct LabelPlace {
    const char *name;
    const char *text;
    int left;
    int top;
};

constexpr std::array kCaptionLabels{
    LabelPlace{"Label1", "Size", 8, 8},          LabelPlace{"Label2", "Random Seed", 8, 72},
    LabelPlace{"Label3", "Water Level", 112, 8}, LabelPlace{"Label9", "Heat", 264, 8},
    LabelPlace{"Label15", "Title", 8, 176},
};

// The scales beside the sliders, top (-kLevelLimit) to bottom (kLevelLimit).
constexpr int kWaterScaleLeft = 176;
constexpr int kHeatScaleLeft = 296;
constexpr std::array kScaleTops{24, 57, 90, 123, 154};
constexpr std::array<const char *, 5> kWaterScaleNames{"Label4", "Label8", "Label5", "Label7", "Label6"};
constexpr std::array<const char *, 5> kHeatScaleNames{"Label10", "Label13", "Label11", "Label14", "Label12"};

constexpr QRect kSizeList{8, 24, 81, 24};
constexpr QRect kSeedField{8, 88, 97, 24};
// In the room between the seed field and the water slider.
constexpr QRect kNewSeedButton{112, 88, 24, 24};
constexpr int kNewSeedIconSide = 16;
// Seeds of up to eight decimal digits, the most the seed field holds.
constexpr quint32 kNewSeedsBelow = 100000000;
constexpr QRect kWaterSlider{144, 24, 30, 150};
constexpr QRect kHeatSlider{264, 24, 30, 150};
constexpr QRect kTitleField{8, 192, 345, 24};
constexpr QRect kGenerateButton{16, 232, 82, 32};
constexpr QRect kExitButton{264, 232, 82, 32};

QRect scaled(const DesignScale &scale, QRect design)
{
    return scale.rect(design.left(), design.top(), design.width(), design.height());
}

QLabel *addLabel(QWidget *parent, const DesignScale &scale, const char *name, const char *text, int left, int top)
{
    auto *label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(scale.point(left, top));
    label->resize(label->sizeHint().width(), scale.y(kLabelHeight));
    return label;
}

LevelSlider *addSlider(QWidget *parent, const DesignScale &scale, const char *name, QRect design,
                       const ScaleCaptions &captions)
{
    auto *slider = new LevelSlider(captions, parent);
    slider->setObjectName(QString::fromLatin1(name));
    slider->setGeometry(scaled(scale, design));
    return slider;
}

QLineEdit *addEdit(QWidget *parent, const DesignScale &scale, const char *name, QRect design)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(scaled(scale, design));
    return edit;
}

QPushButton *addButton(QWidget *parent, const DesignScale &scale, const char *name, const char *text, QRect design)
{
    auto *button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(scaled(scale, design));
    return button;
}

// A die showing five, drawn rather than shipped: it is a control's glyph,
// not a picture of the program. Pixmaps at 1x and 2x keep it crisp on
// screens with a device pixel ratio.
QIcon dieIcon(int side)
{
    QIcon icon;
    for (const int ratio : {1, 2}) {
        QPixmap pixmap(side * ratio, side * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF face(0.5, 0.5, side - 1.0, side - 1.0);
        painter.setPen(QPen(QColor(40, 40, 40), 1.0));
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(face, side / 5.0, side / 5.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 40, 40));
        const qreal pip = side / 8.0;
        const qreal near = side * 0.28, far = side * 0.72, middle = side * 0.5;
        for (const QPointF centre :
             {QPointF(near, near), QPointF(far, near), QPointF(middle, middle), QPointF(near, far), QPointF(far, far)})
            painter.drawEllipse(centre, pip, pip);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

TWorld1::TWorld1(SeededRandom &random, QWidget *parent)
    : QMainWindow(parent, Qt::Window | titleBarButtons()), random_(random)
{
    setObjectName(QStringLiteral("World1"));
    setWindowTitle(QStringLiteral("Terralume"));
    installLineEditAccessible();
    buildControls();
    FormCreate();
}

void TWorld1::buildControls()
{
    const DesignScale screen = primaryScreenScale();
    QFont designFont = font();
    designFont.setPointSize(kFontPointSize);
    setFont(designFont);
    // The controls are laid out for the face they are really drawn in, so
    // that none cuts its text; the window keeps its place on the screen.
    const DesignScale scale(screen.dpi(), faceStretch(designFont, screen.dpi()));

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(scale.size(kClientSize.width(), kClientSize.height()));
    setCentralWidget(client);

    std::array<QLabel *, kCaptionLabels.size()> captions{};
    for (std::size_t i = 0; i < kCaptionLabels.size(); ++i) {
        const LabelPlace &place = kCaptionLabels[i];
        captions[i] = addLabel(client, scale, place.name, place.text, place.left, place.top);
    }
    for (std::size_t i = 0; i < kScaleTops.size(); ++i) {
        addLabel(client, scale, kWaterScaleNames[i], kWaterCaptions[i], kWaterScaleLeft, kScaleTops[i]);
        addLabel(client, scale, kHeatScaleNames[i], kHeatCaptions[i], kHeatScaleLeft, kScaleTops[i]);
    }

    lstSize = newSizeList(client);
    lstSize->setObjectName(QStringLiteral("lstSize"));
    lstSize->setGeometry(scaled(scale, kSizeList));

    edRandSeed = addEdit(client, scale, "edRandSeed", kSeedField);
    edRandSeed->setMaxLength(kSeedTextLimit);
    edRandSeed->setText(WorldSettings{}.SeedText);

    // An icon, not a caption: the design's texts stay as they are.
    butNewSeed = addButton(client, scale, "butNewSeed", "", kNewSeedButton);
    butNewSeed->setIcon(dieIcon(scale.y(kNewSeedIconSide)));
    butNewSeed->setIconSize(QSize(scale.y(kNewSeedIconSide), scale.y(kNewSeedIconSide)));
    butNewSeed->setToolTip(QStringLiteral("New random seed"));
    butNewSeed->setAccessibleName(QStringLiteral("New random seed"));

    trkWater = addSlider(client, scale, "trkWater", kWaterSlider, kWaterCaptions);
    trkHeat = addSlider(client, scale, "trkHeat", kHeatSlider, kHeatCaptions);

    edTitle = addEdit(client, scale, "edTitle", kTitleField);
    // The title has no length limit; Qt's default would cut a pasted one.
    edTitle->setMaxLength(std::numeric_limits<int>::max());

    butGenerate = addButton(client, scale, "butGenerate", "Generate", kGenerateButton);
    butGenerate->setDefault(true);
    butExit = addButton(client, scale, "butExit", "Exit", kExitButton);

    // A screen reader names each control by the caption beside it: the
    // buddy is the labelled-by relation, and the name of every control but
    // the size list, which Qt names on Linux by its current item. The
    // captions have no access keys; their texts stay as designed.
    const std::array<QWidget *, kCaptionLabels.size()> captioned{lstSize, edRandSeed, trkWater, trkHeat, edTitle};
    for (std::size_t i = 0; i < captions.size(); ++i)
        captions[i]->setBuddy(captioned[i]);

    QWidget::setTabOrder(lstSize, edRandSeed);
    QWidget::setTabOrder(edRandSeed, butNewSeed);
    QWidget::setTabOrder(butNewSeed, trkWater);
    QWidget::setTabOrder(trkWater, trkHeat);
    QWidget::setTabOrder(trkHeat, edTitle);
    QWidget::setTabOrder(edTitle, butGenerate);
    QWidget::setTabOrder(butGenerate, butExit);

    menuBar()->setObjectName(QStringLiteral("MainMenu1"));
    menuBar()->setNativeMenuBar(false);
    World2 = menuBar()->addMenu(QStringLiteral("World"));
    World2->setObjectName(QStringLiteral("World2"));
    ExploreWorlds1 = World2->addAction(QStringLiteral("Explore Worlds\u2026"));
    ExploreWorlds1->setObjectName(QStringLiteral("ExploreWorlds1"));
    Help1 = menuBar()->addMenu(QStringLiteral("Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help2 = Help1->addAction(QStringLiteral("Help"));
    Help2->setObjectName(QStringLiteral("Help2"));
    About1 = Help1->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));

    connect(butGenerate, &QPushButton::clicked, this, guarded(this, &TWorld1::butGenerateClick));
    connect(butNewSeed, &QPushButton::clicked, this, guarded(this, &TWorld1::butNewSeedClick));
    connect(butExit, &QPushButton::clicked, this, guarded(this, &TWorld1::butExitClick));
    connect(ExploreWorlds1, &QAction::triggered, this, guarded(this, &TWorld1::ExploreWorlds1Click));
    connect(edRandSeed, &QLineEdit::textChanged, this, &TWorld1::seedTextChanged);
    connect(Help2, &QAction::triggered, this, guarded(this, &TWorld1::Help2Click));
    connect(About1, &QAction::triggered, this, guarded(this, &TWorld1::About1Click));

    // The window takes the size of its client area plus the menu bar and
    // cannot be resized by the user.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    placeFrameAt(*this, screen.point(kWindowPosition.x(), kWindowPosition.y()));
    lstSize->setFocus();
    // A saved picture dropped anywhere on the window brings its settings;
    // the fields would otherwise take its name as text.
    setAcceptDrops(true);
    for (QLineEdit *field : {edRandSeed, edTitle})
        field->installEventFilter(this);
}

void TWorld1::FormCreate()
{
    addSizes(lstSize);
    random_.LoadSeed(edRandSeed->text().toStdString());
}

WorldSettings TWorld1::currentSettings() const
{
    return WorldSettings{lstSize->currentText(), edRandSeed->text(), trkWater->value(), trkHeat->value(),
                         edTitle->text()};
}

void TWorld1::loadPictureSettings(const QByteArray &file)
{
    // Read and checked whole before any control changes.
    const WorldRecord record = readWorldRecordFile(file);
    lstSize->setCurrentIndex(lstSize->findText(record.size));
    edRandSeed->setText(record.seedText);
    trkWater->setValue(record.water);
    trkHeat->setValue(record.heat);
    edTitle->setText(record.title);
}

namespace {

// The name of the local file dropped, as the file system takes it. On Linux
// the URL's path is percent-decoded to bytes here: QUrl::toLocalFile would
// decode them as UTF-8 and lose a name that is not.
QByteArray droppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty() || !data->urls().constFirst().isLocalFile())
        return {};
    const QUrl url = data->urls().constFirst();
#ifdef Q_OS_WIN
    return url.toLocalFile().toUtf8();
#else
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    // A host other than this one names a share, as toLocalFile has it.
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return "//" + url.host(QUrl::FullyEncoded).toLatin1() + path;
    return path;
#endif
}

} // namespace

void TWorld1::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TWorld1::dropEvent(QDropEvent *event)
{
    const QByteArray file = droppedFile(event->mimeData());
    if (file.isEmpty())
        return;
    event->acceptProposedAction();
    try {
        loadPictureSettings(file);
    } catch (...) {
        reportError(std::current_exception());
    }
}

bool TWorld1::eventFilter(QObject *watched, QEvent *event)
{
    const bool dragging = event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove;
    if (!dragging && event->type() != QEvent::Drop)
        return QMainWindow::eventFilter(watched, event);
    const auto *drag = static_cast<QDropEvent *>(event);
    if (droppedFile(drag->mimeData()).isEmpty())
        return QMainWindow::eventFilter(watched, event);
    if (event->type() == QEvent::Drop)
        dropEvent(static_cast<QDropEvent *>(event));
    else
        static_cast<QDropEvent *>(event)->acceptProposedAction();
    return true;
}

void TWorld1::butGenerateClick()
{
    const WorldSettings settings = currentSettings();
    // A rejected seed throws here, before anything else has changed.
    random_.LoadSeed(settings.SeedText.toStdString());
    if (mapWindow_)
        mapWindow_->ShowModal(settings);
}

void TWorld1::butNewSeedClick()
{
    // From the system's source: the seeded one must give every world the
    // same draws whatever was asked of it before.
    QString seed;
    do
        seed = QString::number(QRandomGenerator::system()->bounded(kNewSeedsBelow));
    while (seed == edRandSeed->text());
    replaceSeed(seed);
    butGenerate->click();
}

void TWorld1::replaceSeed(const QString &seed)
{
    edRandSeed->selectAll();
    edRandSeed->insert(seed);
}

void TWorld1::ExploreWorlds1Click()
{
    if (!explorer_)
        explorer_ = new TWorldExplorer(this);
    const auto choice = explorer_->chooseWorld(currentSettings());
    if (!choice)
        return;
    const WorldSettings before = currentSettings();
    replaceSeed(choice->seedText);
    lstSize->setCurrentIndex(lstSize->findText(choice->sizeName));
    trkWater->setValue(choice->waterPosition);
    trkHeat->setValue(choice->heatPosition);
    beforeChoice_ = before;
    chosenSeed_ = choice->seedText;
    if (choice->generate)
        butGenerate->click();
}

void TWorld1::seedTextChanged(const QString &text)
{
    if (!beforeChoice_ || text == chosenSeed_)
        return;
    if (text == beforeChoice_->SeedText && edRandSeed->isRedoAvailable()) {
        lstSize->setCurrentIndex(lstSize->findText(beforeChoice_->SizeName));
        trkWater->setValue(beforeChoice_->WaterPosition);
        trkHeat->setValue(beforeChoice_->HeatPosition);
    }
    // Anything else typed makes the seed the person's own.
    beforeChoice_.reset();
}

void TWorld1::butExitClick() { QCoreApplication::quit(); }

void TWorld1::Help2Click()
{
    // One help window for the run, owned by this window, opened at its contents.
    HelpWindow::openFor(this);
}

void TWorld1::About1Click()
{
    if (aboutWindow_)
        aboutWindow_->exec();
}

void TWorld1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // The focus frame shows from the start, not only once Tab has been
    // pressed: a keyboard user must see where typing goes. Qt hides it again
    // each time a window is shown, so it is asked for here.
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void TWorld1::keyPressEvent(QKeyEvent *event)
{
    // Enter is the default button's, unless a button has the focus, which
    // then presses that one; the fields pass the key on to here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter still held from the key that closed a box or a map repeats
        // here once this window is active again; only a fresh press counts.
        if (event->isAutoRepeat()) {
            event->accept();
            return;
        }
        if (auto *focused = qobject_cast<QPushButton *>(focusWidget()))
            focused->click();
        else
            butGenerate->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace terralume::ui
