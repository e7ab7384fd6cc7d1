// File > Print with the temporary folder full: the job is refused with the
// system's reason before anything reaches the spooler, and once there is
// room again the next Print hands over a whole page. The temporary folder is
// a 64 KiB file system mounted for this process alone (a mount namespace of
// its own, inside a user namespace when not root); the private scheduler of
// the print tests is the default printer.
#include "PrintJob.h"
#include "PrintError.h"
#include "PrivateScheduler.h"
#include "TestMaps.h"

#include <QDir>
#include <QGuiApplication>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

using namespace terralume;
using namespace terralume::print;

namespace {

QByteArray smallTemp;       // where the small file system is mounted
QByteArray isolationFailed; // why not, when it could not be

bool writeFile(const char *file, const std::string &text)
{
    std::ofstream out(file);
    out << text;
    return bool(out.flush());
}

// Runs before any thread exists: a namespace can only be entered then.
void mountSmallTemp()
{
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    const bool isolated =
        uid == 0 ? unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                 : unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && writeFile("/proc/self/setgroups", "deny") &&
                       writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                       writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    QByteArray folder = QDir::tempPath().toLocal8Bit() + "/print-full-temp-XXXXXX";
    if (!isolated || mkdtemp(folder.data()) == nullptr ||
        mount("tmpfs", folder.constData(), "tmpfs", 0, "size=64k") != 0) {
        isolationFailed = "no private mount of a small file system is allowed here";
        return;
    }
    smallTemp = folder;
    qputenv("TMPDIR", smallTemp);
}

} // namespace

class PrintFullTemp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (smallTemp.isEmpty())
            QSKIP(isolationFailed.constData());
        cups_ = testing::privateScheduler();
        QVERIFY2(cups_.isSetUp(), "the private scheduler is not set up");
        cups_.use();
        QCOMPARE(QDir::tempPath().toLocal8Bit(), smallTemp);
    }

    void fullTempFolderSendsNothingThenPrintsOnceThereIsRoom()
    {
        const QImage view = maps::mapView("Medium", -5, 10);
        const PageDescription page{QStringLiteral("Terralume - Full Disk"), QStringLiteral("Medium"), -5, 10, {}};
        const int jobBefore = testing::lastJobOn(cups_.queue);
        QImage printBitmap;
        QString failure;
        try {
            PrintMap(view, page, printBitmap);
        } catch (const PrintError &error) {
            failure = QString::fromUtf8(error.what());
        }
        QCOMPARE(failure, QStringLiteral("The page cannot be prepared for the printer: No space left on device"));
        QCOMPARE(testing::lastJobOn(cups_.queue), jobBefore);
        QCOMPARE(QDir(QString::fromLocal8Bit(smallTemp)).entryList(QDir::Files | QDir::Hidden), QStringList());

        QCOMPARE(mount("tmpfs", smallTemp.constData(), "tmpfs", MS_REMOUNT, "size=64m"), 0);
        PrintMap(view, page, printBitmap);
        // The scheduler takes the whole page: the one job ends printed, not aborted.
        QString why;
        QVERIFY2(!testing::printedPage(cups_, jobBefore, &why).isEmpty(), qPrintable(why));
    }

    void cleanupTestCase()
    {
        if (!smallTemp.isEmpty()) {
            umount(smallTemp.constData());
            rmdir(smallTemp.constData());
        }
    }

private:
    testing::Scheduler cups_;
};

int main(int argc, char **argv)
{
    mountSmallTemp();
    QGuiApplication app(argc, argv);
    PrintFullTemp test;
    return QTest::qExec(&test, argc, argv);
}

#include "PrintFullTempTest.moc"
