// The map window under a real limit on its address space: the x5 view of a
// Large map cannot be had, the error box says so, the previous zoom stays
// shown and usable, and a smaller zoom still works. The box must come up
// however little is left, from none at all to just short of the view. A save
// of the x5 view's page or picture is written whole or ends in the same box.
#include "TerralumeApplication.h"
#include "UiTestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>

#include <cstdio>

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

constexpr char kSaveUnderCap[] = "--save-under-cap";

bool isWhole(const QString &file)
{
    QFile saved(file);
    if (!saved.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = saved.readAll();
    return file.endsWith(QStringLiteral(".pdf")) ? bytes.startsWith("%PDF-") && bytes.trimmed().endsWith("%%EOF")
                                                 : bytes.startsWith("\x89PNG\r\n\x1a\n") &&
                                                       bytes.endsWith("IEND\xae\x42\x60\x82");
}

// In a process of its own, so that no earlier row's freed memory is still
// mapped: `command` on a Large map's x5 view with `room` bytes of address
// space beyond what the view needed. Writes what came of it, a line each:
// "saved", or the box's text and then how the same save went with the
// limit lifted.
int saveUnderCap(const QString &command, qulonglong room, const QString &file)
{
    // Qt draws large images on its thread pool and waits for every part; a
    // part whose thread cannot be started under the limit is waited for
    // forever. That is the window's painting, not the save: the pool's
    // threads are started here, before the limit, and kept.
    QThreadPool &pool = *QThreadPool::globalInstance();
    pool.setExpiryTimeout(-1);
    QSemaphore running, release;
    for (int k = 0; k < pool.maxThreadCount(); ++k)
        pool.start([&] {
            running.release();
            release.acquire();
        });
    running.acquire(pool.maxThreadCount());
    release.release(pool.maxThreadCount());

    Program program;
    find<QComboBox>(program.World1, "lstSize")->setCurrentText(QStringLiteral("Large"));
    program.WorldScr.setFileChooser([&file](QWidget *, const QString &, const QString &, const QString &) { return file; });
    QSignalSpy ended(&program.WorldScr, &TWorldScr::jobEnded);
    ErrorBoxWatcher watcher;
    QByteArray outcome;
    const auto save = [&](TWorldScr &map) {
        const qsizetype before = ended.size();
        find<QAction>(map, command.toLatin1().constData())->trigger();
        return ended.size() > before || ended.wait(120000);
    };
    withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
        zoomEntries(map)[4]->trigger();
        if (map.viewImage().width() != 5120) {
            outcome = "no x5 view\n";
            return;
        }
        {
            const AddressSpaceCap cap(mappedBytes() + room);
            if (!cap.applied() || !save(map)) {
                outcome = "no save under the limit\n";
                return;
            }
        }
        if (watcher.boxes().isEmpty()) {
            outcome = isWhole(file) ? "saved\n" : "not whole\n";
            return;
        }
        for (const ShownBox &box : watcher.boxes())
            outcome += box.text.toUtf8() + '\n';
        outcome += QFile::exists(file) ? "a file left\n" : "";
        outcome += save(map) && watcher.boxes().size() == 1 && isWhole(file) ? "then saved\n" : "then not saved\n";
    });
    std::fputs(outcome.constData(), stdout);
    return 0;
}

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

    void saveUnderTheLimitIsWholeOrReported_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<qulonglong>("room");
        for (const char *command : {"SavePdf1", "SavePicture1"})
            for (const qulonglong megabytes : {0ull, 96ull, 128ull, 144ull, 160ull, 176ull, 256ull})
                QTest::addRow("%s, %llu MiB", command, megabytes) << QString::fromLatin1(command) << (megabytes << 20);
    }
    void saveUnderTheLimitIsWholeOrReported()
    {
        QFETCH(QString, command);
        QFETCH(qulonglong, room);
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves far more address space than any limit worth testing");
#endif
        QTemporaryDir dir;
        const QString file =
            dir.filePath(command == QStringLiteral("SavePdf1") ? QStringLiteral("map.pdf") : QStringLiteral("map.png"));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QGuiApplication::platformName());
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(kSaveUnderCap), command, QString::number(room), file});
        QVERIFY(child.waitForFinished(240000));
        const QByteArray errors = child.readAllStandardError().right(2000);
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, errors.constData());
        const QByteArray outcome = child.readAllStandardOutput();
        QVERIFY2(outcome == "saved\n" || outcome == "Out of memory.\nthen saved\n", (outcome + errors).constData());
    }
};

int main(int argc, char *argv[])
{
    TerralumeApplication application(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], kSaveUnderCap) == 0)
        return saveUnderCap(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toULongLong(),
                            QString::fromLocal8Bit(argv[4]));
    MemoryLimitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MemoryLimitTest.moc"
