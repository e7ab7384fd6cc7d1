#include "HelpWindow.h"

#include "Assets.h"
#include "SpokenNotice.h"
#include "TerralumeApplication.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include <functional>

namespace terralume::ui {

namespace {

QUrl urlOf(const QString &file)
{
    return file.startsWith(QLatin1Char(':')) ? QUrl(QStringLiteral("qrc") + file) : QUrl::fromLocalFile(file);
}

// A plain widget as a window is a filler to Qt's accessibility bridge; a
// screen reader announces only frames, dialogs and the like as windows.
QAccessibleInterface *helpWindowAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String(HelpWindow::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
}

// Tab from link to link selects the link without moving the caret, so
// nothing else tells that one was reached.
class HelpBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    std::function<void(const QString &)> linkReached;

protected:
    bool focusNextPrevChild(bool next) override
    {
        const bool moved = QTextBrowser::focusNextPrevChild(next);
        if (hasFocus() && textCursor().hasSelection())
            guardedCall([&] { linkReached(textCursor().selectedText()); });
        return moved;
    }
};

} // namespace

HelpWindow::HelpWindow(QWidget *owner, const QString &contentsFile)
    : QWidget(nullptr, Qt::Window), owner_(owner), contentsFile_(contentsFile)
{
    // A window of its own, neither parented to nor transient for its owner:
    // the owner's modal windows (a map, the about window) block their owner
    // and everything it owns, and help is read while they are open.
    if (owner)
        connect(owner, &QObject::destroyed, this, [this] { delete this; });
    // Help left open does not keep the program running once the settings
    // window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    QAccessible::installFactory(helpWindowAccessible);
    loadAssets();
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Terralume Help"));
    setWindowIcon(programIcon());

    auto *browser = new HelpBrowser(this);
    browser_ = browser;
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(true);
    // A caret the arrows move lets a screen reader read the page line by
    // line; links still take Tab and Enter.
    browser_->setTextInteractionFlags(Qt::TextBrowserInteraction | Qt::TextSelectableByKeyboard);

    auto *contents = new QPushButton(QStringLiteral("Contents"), this);
    auto *back = new QPushButton(QStringLiteral("Back"), this);
    auto *forward = new QPushButton(QStringLiteral("Forward"), this);
    auto *closeButton = new QPushButton(QStringLiteral("Close"), this);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(contents, &QPushButton::clicked, this, &HelpWindow::showContents);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::close);

    // Qt 6.4's bridge gives a screen reader no links in the page and no
    // event it presents for a link reached or a page opened: both are said.
    notice_ = new SpokenNotice(this);
    browser->linkReached = [this](const QString &link) { notice_->say(link + QStringLiteral(", link")); };
    connect(browser_, &QTextBrowser::sourceChanged, this, guarded(this, &HelpWindow::announcePage));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addWidget(forward);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_);
    resize(640, 560);
}

void HelpWindow::announcePage()
{
    // On opening, the window itself is presented.
    if (isActiveWindow())
        notice_->say(browser_->documentTitle());
}

QString HelpWindow::defaultContentsFile() { return kHelpContentsResource; }

HelpWindow *HelpWindow::of(const QWidget *owner)
{
    if (!owner)
        return nullptr;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *help = qobject_cast<HelpWindow *>(window); help && help->owner() == owner)
            return help;
    return nullptr;
}

HelpWindow *HelpWindow::openFor(QWidget *owner)
{
    auto *window = of(owner);
    if (!window)
        window = new HelpWindow(owner);
    window->showContents();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void HelpWindow::showContents()
{
    found_ = QFileInfo(contentsFile_).isReadable();
    if (found_) {
        browser_->setSource(urlOf(contentsFile_));
        return;
    }
    // Without its pages the help still opens and says so; the program
    // carries on either way.
    browser_->clearHistory();
    browser_->setHtml(QStringLiteral("<h2>Help file not found</h2>"
                                     "<p>The help pages could not be opened:</p><p><code>%1</code></p>"
                                     "<p>Terralume works as usual; only this help is missing.</p>")
                          .arg(contentsFile_.toHtmlEscaped()));
}

} // namespace terralume::ui
