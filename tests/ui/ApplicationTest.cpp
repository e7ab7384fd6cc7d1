// The application object's error handling and the design-to-screen scale.

#include "DesignScale.h"
#include "TerralumeApplication.h"
#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTest>

#include <new>
#include <stdexcept>

using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {

const QEvent::Type kFailEvent = static_cast<QEvent::Type>(QEvent::User + 1);

enum class Failure { Runtime, OutOfMemory, Unknown };

// Fails in its handler the way a window's handler can, and counts what it
// handled without failing.
class FailingReceiver : public QObject {
public:
    Failure failure = Failure::Runtime;
    std::string message;
    int handled = 0;

    bool event(QEvent *event) override
    {
        if (event->type() != kFailEvent) {
            ++handled;
            return QObject::event(event);
        }
        switch (failure) {
        case Failure::Runtime:
            throw std::runtime_error(message);
        case Failure::OutOfMemory:
            throw std::bad_alloc();
        case Failure::Unknown:
            throw 42;
        }
        return true;
    }
};

} // namespace

class ApplicationTest : public QObject {
    Q_OBJECT
private slots:
    void fullStopRule_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "'abc' is not a valid integer value"
                                << "'abc' is not a valid integer value.";
        QTest::newRow("slash, just above the full stop") << "a/"
                                                         << "a/.";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("blank") << "trailing "
                               << "trailing ";
        QTest::newRow("exclamation") << "Stop!"
                                     << "Stop!";
        QTest::newRow("hyphen, below the full stop") << "a-"
                                                     << "a-";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("accented letter") << QString::fromUtf8("caf\xC3\xA9") << QString::fromUtf8("caf\xC3\xA9.");
    }
    void fullStopRule()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(errorBoxText(message), shown);
    }

    void escapedErrorEndsInTheBox_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("message") << int(Failure::Runtime) << "Map too wide"
                                 << "Map too wide.";
        QTest::newRow("no memory") << int(Failure::OutOfMemory) << ""
                                   << "Out of memory.";
        QTest::newRow("not a std::exception") << int(Failure::Unknown) << ""
                                              << "Unexpected error.";
    }
    void escapedErrorEndsInTheBox()
    {
        QFETCH(int, failure);
        QFETCH(QString, message);
        QFETCH(QString, shown);

        FailingReceiver receiver;
        receiver.failure = static_cast<Failure>(failure);
        receiver.message = message.toStdString();
        ErrorBoxWatcher watcher;
        QEvent fail(kFailEvent);
        QCoreApplication::sendEvent(&receiver, &fail);

        QCOMPARE(watcher.boxes().size(), 1);
        const ShownBox &box = watcher.boxes().front();
        QCOMPARE(box.caption, QStringLiteral("Terralume"));
        QCOMPARE(box.text, shown);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

        // The program carries on: the next event is handled as usual.
        QEvent next(QEvent::User);
        QCoreApplication::sendEvent(&receiver, &next);
        QCOMPARE(receiver.handled, 1);
    }

    // Just after a box closes, Qt may still name it (or a box it owns) the
    // active window; the next shortage must not make the prepared box its
    // own owner.
    void outOfMemoryBoxAgainWhileTheLastStillCountsActive_data()
    {
        QTest::addColumn<bool>("ownedBoxActive");
        QTest::newRow("the box itself") << false;
        QTest::newRow("a box it owns") << true;
    }
    void outOfMemoryBoxAgainWhileTheLastStillCountsActive()
    {
        QFETCH(bool, ownedBoxActive);
        FailingReceiver receiver;
        receiver.failure = Failure::OutOfMemory;
        QEvent fail(kFailEvent);
        QMessageBox *shown = nullptr;
        std::unique_ptr<QMessageBox> owned;
        {
            ErrorBoxWatcher watcher;
            QTimer spy;
            QObject::connect(&spy, &QTimer::timeout, [&] {
                for (QWidget *widget : QApplication::topLevelWidgets())
                    if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                        shown = box;
            });
            spy.start(1);
            QCoreApplication::sendEvent(&receiver, &fail);
            QCOMPARE(watcher.boxes().size(), 1);
        }
        QVERIFY(shown);
        QWidget *active = shown;
        if (ownedBoxActive) {
            owned = std::make_unique<QMessageBox>(shown);
            owned->setWindowFlags(Qt::Dialog);
            active = owned.get();
        }
        QApplication::setActiveWindow(active);
        ErrorBoxWatcher watcher;
        QCoreApplication::sendEvent(&receiver, &fail);
        QCOMPARE(watcher.boxes().size(), 1);
        QCOMPARE(watcher.boxes().front().text, QStringLiteral("Out of memory."));
        QApplication::setActiveWindow(nullptr);
    }

    // The window manager draws the caption in the title bar beside an icon
    // and three buttons, for which common title bars keep up to about 28 mm
    // at their default sizes. A short message makes a narrow box; what is
    // left of its width must still hold the caption in a bold title font.
    void captionFitsTheTitleBar_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<QString>("message");
        QTest::newRow("out of memory") << int(Failure::OutOfMemory) << "";
        QTest::newRow("short message") << int(Failure::Runtime) << "No";
    }
    void captionFitsTheTitleBar()
    {
        QFETCH(int, failure);
        QFETCH(QString, message);
        FailingReceiver receiver;
        receiver.failure = static_cast<Failure>(failure);
        receiver.message = message.toStdString();
        int width = 0, dpi = 0;
        QString caption;
        QTimer measurer;
        connect(&measurer, &QTimer::timeout, [&] {
            for (QWidget *window : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible()) {
                    width = box->width();
                    dpi = box->logicalDpiX();
                    caption = box->windowTitle();
                    box->button(QMessageBox::Ok)->click();
                }
        });
        measurer.start(5);
        QEvent fail(kFailEvent);
        QCoreApplication::sendEvent(&receiver, &fail);
        QCOMPARE(caption, QStringLiteral("Terralume"));
        QFont titleFont = QFontDatabase::systemFont(QFontDatabase::TitleFont);
        titleFont.setBold(true);
        const int needed = QFontMetrics(titleFont).horizontalAdvance(caption);
        const int room = width - qRound(28.0 / 25.4 * dpi);
        QVERIFY2(needed <= room, qPrintable(QStringLiteral("the caption needs %1 pixels, the title bar leaves %2")
                                                .arg(needed)
                                                .arg(room)));
    }

    void designPixelsScaleToTheScreen_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("design");
        QTest::addColumn<int>("screen");
        QTest::newRow("design dpi is identity") << 120 << 345 << 345;
        QTest::newRow("96 dpi rounds down") << 96 << 368 << 294;
        QTest::newRow("108 dpi half goes away from zero") << 108 << 5 << 5;
        QTest::newRow("108 dpi negative half") << 108 << -5 << -5;
        QTest::newRow("144 dpi, window left") << 144 << 43 << 52;
        QTest::newRow("negative keeps symmetry") << 96 << -82 << -66;
        QTest::newRow("unknown dpi falls back to design") << 0 << 150 << 150;
    }
    void designPixelsScaleToTheScreen()
    {
        QFETCH(int, dpi);
        QFETCH(int, design);
        QFETCH(int, screen);
        QCOMPARE(DesignScale(dpi)(design), screen);
    }
};

int main(int argc, char *argv[])
{
    TerralumeApplication application(argc, argv);
    ApplicationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ApplicationTest.moc"
