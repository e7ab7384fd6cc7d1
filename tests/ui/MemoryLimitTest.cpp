// The map window under a real limit on its address space: the x5 view of a
// Large map cannot be had, the error box says so, the previous zoom stays
// shown and usable, and a smaller zoom still works.
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
    void zoomBeyondTheLimitIsReportedAndTheWindowCarriesOn()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves far more address space than any limit worth testing");
#endif
        Program program;
        find<QComboBox>(program.settings, "lstSize")->setCurrentText(QStringLiteral("Large"));
        QVERIFY(withMapOpen(program.settings, program.map, [&](TWorldScr &map) {
            zoomEntries(map)[1]->trigger(); // x 2: 2048 pixels square
            QCoreApplication::processEvents();
            // Room for small things, not for the 52 MB of a 5120-pixel view.
            const AddressSpaceCap cap(mappedBytes() + (24u << 20));
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

QTEST_MAIN(MemoryLimitTest)
#include "MemoryLimitTest.moc"
