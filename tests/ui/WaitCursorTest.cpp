// The hourglass of a long operation: it stays while any guard lives, even
// when an inner one ends, and the default cursor follows the outermost
// guard however it ends and whatever override was left before it.
#include "WaitCursor.h"

#include <QGuiApplication>
#include <QTest>

#include <stdexcept>

using terralume::ui::WaitCursor;

class WaitCursorTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        while (QGuiApplication::overrideCursor() != nullptr)
            QGuiApplication::restoreOverrideCursor();
    }

    void endsAsTheDefaultCursor_data()
    {
        QTest::addColumn<int>("leftBefore"); // overrides set before the guard
        QTest::addColumn<bool>("fails");
        QTest::newRow("completes") << 0 << false;
        QTest::newRow("fails") << 0 << true;
        QTest::newRow("completes after a left override") << 1 << false;
        QTest::newRow("fails after two left overrides") << 2 << true;
    }
    void endsAsTheDefaultCursor()
    {
        QFETCH(int, leftBefore);
        QFETCH(bool, fails);
        for (int i = 0; i < leftBefore; ++i)
            QGuiApplication::setOverrideCursor(QCursor(Qt::CrossCursor));
        const auto shape = [] {
            const QCursor *cursor = QGuiApplication::overrideCursor();
            return cursor ? cursor->shape() : Qt::ArrowCursor;
        };
        try {
            const WaitCursor outer;
            QCOMPARE(shape(), Qt::WaitCursor);
            {
                const WaitCursor inner;
                QCOMPARE(shape(), Qt::WaitCursor);
            }
            QCOMPARE(shape(), Qt::WaitCursor);
            if (fails)
                throw std::runtime_error("failed");
        } catch (const std::runtime_error &) {
            QVERIFY(fails);
        }
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }
};

QTEST_MAIN(WaitCursorTest)
#include "WaitCursorTest.moc"
