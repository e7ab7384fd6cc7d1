// The about window, the help viewer and the pictures they show.
#include "Assets.h"
#include "HelpWindow.h"
#include "TWorldSplash.h"

#include <QAccessible>
#include <QBitmap>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <optional>
#include <QTextBrowser>
#include <QTimer>

#include <memory>

using terralume::ui::HelpWindow;
using terralume::ui::TWorldSplash;

class AboutHelpTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { terralume::loadAssets(); }

    void aboutWindowIsTheSameOnEveryShowing_data()
    {
        QTest::addColumn<bool>("byCloseBox");
        QTest::newRow("closed with OK") << false;
        QTest::newRow("closed with the close box") << true;
    }

    void aboutWindowIsTheSameOnEveryShowing()
    {
        QFETCH(bool, byCloseBox);
        QWidget owner;
        owner.show();
        TWorldSplash splash(&owner);
        auto *ok = splash.findChild<QPushButton *>(QStringLiteral("butOK"));
        QVERIFY(ok);

        QList<QWidget *> focused;
        for (int showing = 0; showing < 2; ++showing) {
            QTimer::singleShot(0, &splash, [&] {
                focused.append(splash.focusWidget());
                if (byCloseBox)
                    splash.close();
                else
                    QTest::mouseClick(ok, Qt::LeftButton);
            });
            splash.exec();
            QVERIFY(!splash.isVisible());
        }
        QCOMPARE(focused, (QList<QWidget *>{ok, ok}));
        // Still the same children: nothing was rebuilt between showings.
        QCOMPARE(splash.findChild<QPushButton *>(QStringLiteral("butOK")), ok);
        QCOMPARE(splash.findChildren<QPushButton *>().size(), 1);
    }

    void aboutWindowShowsItsContent()
    {
        TWorldSplash splash;
        QCOMPARE(splash.windowTitle(), QStringLiteral("Terralume"));
        QVERIFY(splash.isModal());
        QVERIFY(!(splash.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(splash.minimumSize(), splash.maximumSize());

        const QList<std::pair<QString, QString>> labels{
            {QStringLiteral("Label3"), QStringLiteral("The Random World Generator")},
            {QStringLiteral("Label1"), QStringLiteral("Version 1.20")},
            {QStringLiteral("Label2"), TWorldSplash::webAddress()},
        };
        int previousTop = 0;
        std::optional<int> lineStart;
        for (const auto &[name, text] : labels) {
            auto *label = splash.findChild<QLabel *>(name);
            QVERIFY2(label, qPrintable(name));
            // The lines start at one x.
            QCOMPARE(label->x(), lineStart.value_or(label->x()));
            lineStart = label->x();
            QCOMPARE(label->text(), text);
            // A screen reader presenting a dialog passes over labels of
            // fewer than three words.
            const QString heard = QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
            QVERIFY2(heard.contains(text, Qt::CaseInsensitive) && heard.split(u' ', Qt::SkipEmptyParts).size() >= 3,
                     qPrintable(heard));
            QVERIFY(label->font().bold());
            QCOMPARE(label->font().pointSize(), 9);
            const QImage drawn = label->grab().toImage();
            int bluePixels = 0;
            for (int y = 0; y < drawn.height(); ++y)
                for (int x = 0; x < drawn.width(); ++x)
                    bluePixels += drawn.pixelColor(x, y) == QColor(Qt::blue);
            QVERIFY2(bluePixels > 20, qPrintable(name + QStringLiteral(" is not drawn in blue")));
            QVERIFY(label->geometry().top() > previousTop);
            QVERIFY2(splash.rect().contains(label->geometry()),
                     qPrintable(QStringLiteral("%1 at %2,%3 %4 x %5 runs out of %6 x %7")
                                    .arg(name)
                                    .arg(label->x())
                                    .arg(label->y())
                                    .arg(label->width())
                                    .arg(label->height())
                                    .arg(splash.width())
                                    .arg(splash.height())));
            previousTop = label->geometry().top();
        }

        auto *ok = splash.findChild<QPushButton *>(QStringLiteral("butOK"));
        QVERIFY(ok);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(ok->font().pointSize(), 8);
        QVERIFY(ok->geometry().top() > previousTop);
        // 158 + 73 / 2 of 400: the button sits just left of the middle.
        QVERIFY(qAbs(ok->geometry().center().x() - splash.width() * 194 / 400) <= 2);

        auto *banner = splash.findChild<QLabel *>(QStringLiteral("Image1"));
        QVERIFY(banner);
        QCOMPARE(banner->pos(), QPoint(0, 0));
        QCOMPARE(banner->width(), splash.width());
        QVERIFY(!banner->pixmap().isNull());
        // The black corners let the window's face show through; the ellipse does not.
        const QImage shot = splash.grab().toImage();
        const QColor face = splash.palette().color(QPalette::Button);
        const int right = banner->width() - 1;
        const int bottom = banner->height() - 1;
        for (const QPoint corner : {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
            QCOMPARE(shot.pixelColor(corner), face);
        const QColor middle = shot.pixelColor(banner->width() / 10, banner->height() / 2);
        QVERIFY(middle.green() > middle.red() + 40 && middle.green() > middle.blue() + 40);
    }

    void helpOpensOnceAndIsReused()
    {
        auto owner = std::make_unique<QWidget>();
        owner->show();
        HelpWindow *first = HelpWindow::openFor(owner.get());
        QVERIFY(first);
        QVERIFY(first->isVisible());
        QVERIFY(first->isWindow());
        QCOMPARE(HelpWindow::of(owner.get()), first);
        QVERIFY(first->helpFound());
        QCOMPARE(first->browser()->documentTitle(), QStringLiteral("Terralume Help"));

        // Wander off, close it, ask again: the same window, back at the contents.
        first->browser()->setSource(QUrl(QStringLiteral("qrc:/terralume/help/seeds.html")));
        QCOMPARE(first->browser()->documentTitle(), QStringLiteral("How seeds work"));
        first->close();
        HelpWindow *second = HelpWindow::openFor(owner.get());
        QCOMPARE(second, first);
        QVERIFY(second->isVisible());
        QCOMPARE(second->browser()->documentTitle(), QStringLiteral("Terralume Help"));

        // Not a child of its owner, yet it goes with it.
        const QPointer<HelpWindow> help(first);
        owner.reset();
        QVERIFY(help.isNull());
    }

    // From the contents page as it opens, with the keyboard alone: what the
    // screen reader is told (the announcement, when one shows), which
    // paragraph the caret is in, and whether the window is still open.
    void helpIsUsedFromTheKeyboard_data()
    {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<QString>("announced");
        QTest::addColumn<int>("caretBlock");
        QTest::addColumn<bool>("open");
        QTest::newRow("Down moves the caret") << QList<int>{Qt::Key_Down} << QString() << 1 << true;
        QTest::newRow("Tab reaches the first link")
            << QList<int>{Qt::Key_Tab} << QStringLiteral("The settings, link") << 3 << true;
        QTest::newRow("Tab again the next one")
            << QList<int>{Qt::Key_Tab, Qt::Key_Tab} << QStringLiteral("How seeds work, link") << 4 << true;
        QTest::newRow("Enter opens the link's page")
            << QList<int>{Qt::Key_Tab, Qt::Key_Return} << QStringLiteral("The settings") << 0 << true;
        QTest::newRow("Escape closes") << QList<int>{Qt::Key_Escape} << QString() << 0 << false;
    }

    void helpIsUsedFromTheKeyboard()
    {
        QFETCH(QList<int>, keys);
        QFETCH(QString, announced);
        QFETCH(int, caretBlock);
        QFETCH(bool, open);
        QWidget owner;
        HelpWindow *help = HelpWindow::openFor(&owner);
        QVERIFY(QTest::qWaitForWindowActive(help));
        QTextBrowser *browser = help->browser();
        QVERIFY(browser->hasFocus());
        for (const int key : keys)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCOMPARE(help->isVisible(), open);
        QCOMPARE(browser->textCursor().blockNumber(), caretBlock);

        // Said as it shows, by its role.
        QString shown;
        for (QWidget *child : help->findChildren<QWidget *>())
            if (child->isVisible() && QAccessible::queryAccessibleInterface(child)->role() == QAccessible::Notification)
                shown = child->accessibleName();
        QCOMPARE(shown, announced);
    }

    void missingHelpIsReportedInItsWindow()
    {
        QWidget owner;
        const QString missing = QDir::temp().filePath(QStringLiteral("no-such-folder/help/index.html"));
        HelpWindow help(&owner, missing);
        help.showContents();
        QVERIFY(!help.helpFound());
        QVERIFY(help.browser()->toPlainText().contains(QLatin1String("Help file not found")));
        QVERIFY(help.browser()->toPlainText().contains(missing));
    }

    void helpPagesAreLinkedBothWays_data()
    {
        QTest::addColumn<QString>("page");
        const QRegularExpression link(QStringLiteral("href=\"([a-z]+\\.html)\""));
        QFile contents(terralume::kHelpContentsResource);
        QVERIFY(contents.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(contents.readAll());
        for (auto match = link.globalMatch(html); match.hasNext();) {
            const QString page = match.next().captured(1);
            QTest::newRow(qPrintable(page)) << page;
        }
    }

    void helpPagesAreLinkedBothWays()
    {
        QFETCH(QString, page);
        QFile file(QStringLiteral(":/terralume/help/") + page);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(page + QStringLiteral(" is linked but missing")));
        const QString html = QString::fromUtf8(file.readAll());
        QVERIFY(html.contains(QLatin1String("<title>")));
        QVERIFY2(html.contains(QLatin1String("href=\"index.html\"")), "no way back to the contents");
        // Every page a page links to must exist too.
        const QRegularExpression link(QStringLiteral("href=\"([a-z]+\\.(?:html|css))\""));
        for (auto match = link.globalMatch(html); match.hasNext();) {
            const QString target = match.next().captured(1);
            QVERIFY2(QFile::exists(QStringLiteral(":/terralume/help/") + target), qPrintable(target));
        }
    }

    void picturesAreAsDrawn()
    {
        const QImage icon(terralume::kIconResource);
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(icon.format(), QImage::Format_Indexed8);
        QVERIFY(icon.colorCount() <= 16);
        QVERIFY(terralume::programIcon().availableSizes().contains(QSize(32, 32)));

        const QImage banner(terralume::kBannerResource);
        QCOMPARE(banner.size(), QSize(400, 100));
        QCOMPARE(banner.pixel(0, 99), qRgb(0, 0, 0));
        const QColor middle = banner.pixelColor(20, 50);
        QVERIFY(middle.green() > middle.red() && middle.green() > middle.blue());
    }
};

QTEST_MAIN(AboutHelpTest)
#include "AboutHelpTest.moc"
