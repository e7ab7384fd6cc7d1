#include "TerralumeApplication.h"

#include "MenuBarKeys.h"
#include "Messages.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QPixmap>

#include <exception>
#include <memory>
#include <new>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace terralume::ui {

namespace {

const QString kApplicationTitle = QStringLiteral("Terralume");
const QString kOutOfMemory = QStringLiteral("Out of memory");

QMessageBox *makeErrorBox(const QString &message, QWidget *parent)
{
    auto *box =
        new QMessageBox(QMessageBox::Critical, kApplicationTitle, errorBoxText(message), QMessageBox::Ok, parent);
    // The message quotes what the user typed; it is text, never markup.
    box->setTextFormat(Qt::PlainText);
    // The window manager draws the caption in the title bar, between an icon
    // and the bar's buttons, and cuts it short when the box is narrow, as a
    // short message makes it ("Terr… me" over "Out of memory."). Qt leaves
    // fifty pixels for all of those; the box is kept wide enough for the
    // caption in a bold title font beside an icon and three buttons, each
    // about as wide as the bar is tall (a line and a half), and a
    // line's padding at either end; Windows' buttons are wider than tall,
    // about three lines each. Added last: setting an icon or a text lays
    // the box out anew.
#ifdef Q_OS_WIN
    constexpr int kDecorationLines = 11;
#else
    constexpr int kDecorationLines = 8;
#endif
    QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    titleFont.setBold(true);
    const QFontMetrics title(titleFont);
    const int captionRoom = title.horizontalAdvance(kApplicationTitle) + kDecorationLines * title.height();
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()))
        grid->addItem(new QSpacerItem(captionRoom, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0,
                      1, grid->columnCount());
    return box;
}

// Address space held back while there is plenty and given up the moment it
// runs out, so that the box saying so can still be drawn. Reserved, never
// touched: it costs no memory.
class RainyDayReserve {
public:
    void hold()
    {
        if (block_)
            return;
#ifdef Q_OS_WIN
        block_ = VirtualAlloc(nullptr, kBytes, MEM_RESERVE, PAGE_NOACCESS);
#else
        void *block = mmap(nullptr, kBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        block_ = block == MAP_FAILED ? nullptr : block;
#endif
    }
    void release()
    {
#ifdef Q_OS_WIN
        if (block_)
            VirtualFree(block_, 0, MEM_RELEASE);
#else
        if (block_)
            munmap(block_, kBytes);
#endif
        block_ = nullptr;
    }

private:
    static constexpr std::size_t kBytes = std::size_t{8} << 20;
    void *block_ = nullptr;
};

// The out-of-memory box is made, and drawn once, while memory is still to
// be had: its icon is decoded and its text's glyphs are cached by then.
struct OutOfMemoryBox {
    std::unique_ptr<QMessageBox> box;
    RainyDayReserve reserve;
    bool showing = false;

    void prepare();
};

OutOfMemoryBox &outOfMemoryBox()
{
    static OutOfMemoryBox prepared;
    return prepared;
}

void OutOfMemoryBox::prepare()
{
    reserve.hold();
    if (box)
        return;
    box.reset(makeErrorBox(kOutOfMemory, nullptr));
    box->grab();
    // A window must go before the application does.
    qAddPostRoutine([] {
        outOfMemoryBox().box.reset();
        outOfMemoryBox().reserve.release();
    });
}

// The window a box shows over: the active one, unless that is the box
// itself or a window it owns, as Qt may still say just after the box closed;
// owning itself would make a loop of parents that nothing survives.
QWidget *ownerFor(const QWidget &box)
{
    for (QWidget *up = QApplication::activeWindow(); up; up = up->parentWidget())
        if (up == &box)
            return nullptr;
    return QApplication::activeWindow();
}

void showOutOfMemoryBox()
{
    OutOfMemoryBox &prepared = outOfMemoryBox();
    // A failure while the box is up is the same shortage: it is already
    // being told.
    if (prepared.showing)
        return;
    prepared.reserve.release();
    if (!prepared.box) {
        // Only an application object other than ours gets here unprepared.
        try {
            prepared.prepare();
        } catch (const std::bad_alloc &) {
            return;
        }
    }
    prepared.showing = true;
    QMessageBox &box = *prepared.box;
    box.setParent(ownerFor(box), box.windowFlags());
    box.exec();
    box.setParent(nullptr, box.windowFlags());
    prepared.showing = false;
    prepared.reserve.hold();
}

} // namespace

QString errorBoxText(const QString &message)
{
    if (!message.isEmpty() && wantsFullStop(message.back().unicode()))
        return message + u'.';
    return message;
}

void showErrorBox(const QString &message)
{
    const std::unique_ptr<QMessageBox> box(makeErrorBox(message, QApplication::activeWindow()));
    box->exec();
}

TerralumeApplication::TerralumeApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    outOfMemoryBox().prepare();
    installEventFilter(new MenuBarKeys(this));
}

void reportError(std::exception_ptr error)
{
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc &) {
        showOutOfMemoryBox();
        return;
    } catch (const std::exception &failure) {
        message = QString::fromUtf8(failure.what());
    } catch (...) {
        message = QStringLiteral("Unexpected error");
    }
    // The box runs its own event loop, so it is shown outside the handler.
    showErrorBox(message);
}

bool TerralumeApplication::notify(QObject *receiver, QEvent *event)
{
    std::exception_ptr failure;
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        failure = std::current_exception();
    }
    reportError(failure);
    return false;
}

} // namespace terralume::ui
