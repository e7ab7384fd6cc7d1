// The map window under a real limit on its address space: the x5 view of a
// Large map cannot be had, the error box says so, the previous zoom stays
// shown and usable, and a smaller zoom still works. The box must come up
// however little is left, from none at all to just short of the view.
#include "TerralumeApplication.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QFile>

#include <sys/resource.h>
#include <unistd.h>

using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {

// The bytes of address space this process has mapped now.
rlim_t mappedBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<rlim_t>(statm.readAll().split(' ').value(0).toULongLong()) *
           static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

class AddressSpaceCap {
public:
    explicit AddressSpaceCap(rlim_t bytes)
    {
        getrlimit(RLIMIT_AS, &previous_);
        const rlimit cap{bytes, previous_.rlim_max};
        applied_ = setrlimit(RLIMIT_AS, &cap) == 0;
    }
    ~AddressSpaceCap() { setrlimit(RLIMIT_AS, &previous_); }
    AddressSpaceCap(const AddressSpaceCap &) = delete;
    AddressSpaceCap &operator=(const AddressSpaceCap &) = delete;
    bool applied() const { return applied_; }

private:
    rlimit previous_{};
    bool applied_ = false;
};

} // namespace

class MemoryLimitTest : public QObject {
    Q_OBJECT
private slots:
    void zoomBeyondTheLimitIsReportedAndTheWindowCarriesOn_data()
    {
        // Address space left free beside what the process has mapped.
        QTest::addColumn<qulonglong>("room");
        constexpr qulonglong kViewBytes = 5120ull * 5120ull * 2ull;
        QTest::newRow("none") << 0ull;
        QTest::newRow("64 KiB") << (64ull << 10);
        QTest::newRow("1 MiB") << (1ull << 20);
        QTest::newRow("24 MiB") << (24ull << 20);
        QTest::newRow("the view less 1 MiB") << kViewBytes - (1ull << 20);
    }
    void zoomBeyondTheLimitIsReportedAndTheWindowCarriesOn()
    {
        QFETCH(qulonglong, room);
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves far more address space than any limit worth testing");
#endif
        Program program;
        find<QComboBox>(program.World1, "lstSize")->setCurrentText(QStringLiteral("Large"));
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            zoomEntries(map)[1]->trigger(); // x 2: 2048 pixels square
            QCoreApplication::processEvents();
            const AddressSpaceCap cap(mappedBytes() + room);
            QVERIFY(cap.applied());

            ErrorBoxWatcher watcher;
            QMetaObject::invokeMethod(zoomEntries(map)[4], &QAction::trigger, Qt::QueuedConnection);
            QTRY_COMPARE(watcher.boxes().size(), 1);
            QCOMPARE(watcher.boxes().front().text, QStringLiteral("Out of memory."));
            QCOMPARE(watcher.boxes().front().caption, QStringLiteral("Terralume"));
            QCOMPARE(map.zoomFactor(), 2);
            QCOMPARE(checkedZooms(map), QList<int>{2});
            QCOMPARE(map.viewImage().width(), 2048);
            QCOMPARE(QApplication::overrideCursor(), nullptr);

            zoomEntries(map)[0]->trigger(); // x 1 fits in what is there
            QCOMPARE(map.zoomFactor(), 1);
            QCOMPARE(map.viewImage().width(), 1024);
            QCOMPARE(watcher.boxes().size(), 1);
        }));
    }
};

int main(int argc, char *argv[])
{
    TerralumeApplication application(argc, argv);
    MemoryLimitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MemoryLimitTest.moc"
