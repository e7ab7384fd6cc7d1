// Keeping a shown map: the saved picture against the renderer, the page as
// PDF, the clipboard, saves that cannot be written, and a saved picture
// dropped on the settings window making the same map again.

#include "MapExport.h"
#include "UiTestSupport.h"
#include "WorldRecord.h"

#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <cstdio>

Q_DECLARE_METATYPE(terralume::WorldRecord)

using namespace terralume;
using namespace terralume::ui;
using namespace terralume::ui::testing;

namespace {

void enterSettings(TWorld1 &window, const WorldRecord &world)
{
    auto *sizes = find<QComboBox>(window, "lstSize");
    sizes->setCurrentIndex(sizes->findText(world.size));
    find<QLineEdit>(window, "edRandSeed")->setText(world.seedText);
    find<QSlider>(window, "trkWater")->setValue(world.water);
    find<QSlider>(window, "trkHeat")->setValue(world.heat);
    find<QLineEdit>(window, "edTitle")->setText(world.title);
}

// Chooses `answer` for every dialog and keeps what the dialog proposed.
MapExportCommands::FileChooser choosing(const QString &answer, QStringList &proposed)
{
    return [answer, &proposed](QWidget *, const QString &, const QString &offered, const QString &) {
        proposed.append(offered);
        return answer;
    };
}

WorldRecord shownSettings(TWorld1 &window)
{
    const WorldSettings now = window.currentSettings();
    return {now.SizeName, now.SeedText, now.WaterPosition, now.HeatPosition, now.Title};
}

bool operator==(const WorldRecord &a, const WorldRecord &b)
{
    return a.size == b.size && a.seedText == b.seedText && a.water == b.water && a.heat == b.heat && a.title == b.title;
}

// A file dropped on `target` as a file manager drops it, with its name as
// text too.
void drop(QWidget &target, const QString &file)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    data.setText(file);
    const QPoint at = target.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &dropped);
}

#ifdef Q_OS_WIN
struct WithoutOverride { // nobody writes a read-only file there
    WithoutOverride() {}
    ~WithoutOverride() {}
};
#else
// Root's power to write any file, given up on this thread while it lives:
// what a user who is not root may do.
class WithoutOverride {
public:
    WithoutOverride()
    {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutOverride() { ::syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
};
#endif

} // namespace

class MapSaveTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void pictureIsTheRenderersWithItsWorld_data()
    {
        QTest::addColumn<WorldRecord>("world");
        QTest::addColumn<int>("zoom"); // 0: as the show leaves it
        QTest::newRow("initial, as shown") << WorldRecord{} << 0;
        QTest::newRow("x1, titled") << WorldRecord{"Small", "7", 10, -30, QStringLiteral("Isles")} << 1;
        QTest::newRow("medium x3, blanks kept")
            << WorldRecord{"Medium", " $7F", -20, 35, QStringLiteral(" A  b ")} << 3;
        QTest::newRow("large x5") << WorldRecord{"Large", "1234", 12, 30, QStringLiteral("Big")} << 5;
    }
    void pictureIsTheRenderersWithItsWorld()
    {
        QFETCH(WorldRecord, world);
        QFETCH(int, zoom);
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("saved.png"));
        QStringList proposed;
        Program program;
        enterSettings(program.World1, world);
        program.WorldScr.setFileChooser(choosing(saved, proposed));
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            if (zoom)
                zoomEntries(map)[zoom - 1]->trigger();
            find<QAction>(map, "SavePicture1")->trigger();
        }));
        QCOMPARE(proposed.size(), 1);

        const QString rendered = dir.filePath(QStringLiteral("rendered.png"));
        QStringList args{QStringLiteral("--from"), saved, QStringLiteral("--png"), rendered};
        if (zoom)
            args << QStringLiteral("--zoom") << QString::number(zoom);
        QProcess render;
        render.start(QStringLiteral(TERRALUME_RENDER_PATH), args);
        QVERIFY(render.waitForFinished(120000));
        QCOMPARE(render.exitCode(), 0);
        QVERIFY(!QImage(saved).isNull());
        // The same file to the byte: pixels, record and everything else.
        QFile mine(saved), theirs(rendered);
        QVERIFY(mine.open(QIODevice::ReadOnly) && theirs.open(QIODevice::ReadOnly));
        QVERIFY(mine.readAll() == theirs.readAll());
        const WorldRecord got = readWorldRecord(saved);
        QCOMPARE(got.size, world.size);
        QCOMPARE(got.seedText, world.seedText);
        QCOMPARE(got.water, world.water);
        QCOMPARE(got.heat, world.heat);
        QCOMPARE(got.title, world.title);
        // The next save starts in the folder of this one.
        QCOMPARE(lastSaveFolder(), dir.path());
    }

    // Where the file dialog opens: the folder of the last save, else the
    // user's Pictures folder, else home.
    void saveFolderIsRememberedInTheSystemsForm_data()
    {
        QTest::addColumn<bool>("remembered");
        QTest::addColumn<bool>("pictures");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first save, Pictures there") << false << true << "Pictures";
        QTest::newRow("first save, no Pictures") << false << false << "";
        QTest::newRow("remembered folder") << true << true << "maps";
    }

    void saveFolderIsRememberedInTheSystemsForm()
    {
        QFETCH(bool, remembered);
        QFETCH(bool, pictures);
        QFETCH(QString, expected);
#ifdef Q_OS_WIN
        // There the Pictures folder is the system's known folder, whatever
        // the profile variables say; it always exists.
        if (!pictures)
            QSKIP("Windows always has a Pictures folder");
#endif
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("maps")));
        QVERIFY(!pictures || QDir(home.path()).mkpath(QStringLiteral("Pictures")));
        const QByteArray oldHome = qgetenv("HOME"), oldProfile = qgetenv("USERPROFILE");
        const auto restore = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            qputenv("USERPROFILE", oldProfile);
        });
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("USERPROFILE", QDir::toNativeSeparators(home.path()).toLocal8Bit());
        QSettings(QStringLiteral("Terralume"), QStringLiteral("Terralume")).remove("save/lastFolder");
        if (remembered)
            saveWhole(home.filePath(QStringLiteral("maps/a.png")), QByteArrayLiteral("png"));
        const QString stored =
            QSettings(QStringLiteral("Terralume"), QStringLiteral("Terralume")).value("save/lastFolder").toString();
        QCOMPARE(stored, remembered ? QDir::toNativeSeparators(home.filePath(QStringLiteral("maps"))) : QString());
#ifdef Q_OS_WIN
        if (!remembered) {
            QCOMPARE(QFileInfo(lastSaveFolder()).fileName(), expected);
            return;
        }
#endif
        QCOMPARE(QDir(lastSaveFolder()), QDir(home.filePath(expected)));
    }

    void failedSaveIsReportedAndLeavesNothing_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("target"); // "@" stands for the test's folder; "@/pipe" is made a pipe
        QTest::addColumn<QString>("reason");
        for (const char *entry : {"SavePicture1", "SavePdf1"}) {
#ifdef Q_OS_WIN
            // Windows has no full device; a name it refuses fails the save
            // at its start instead. The reasons are the system's own words.
            QTest::addRow("%s, name refused", entry) << entry << "@/map<1>.png" << qt_error_string(ERROR_INVALID_NAME);
            QTest::addRow("%s, no folder", entry) << entry << "@/missing/map" << qt_error_string(ERROR_PATH_NOT_FOUND);
#else
            // A person saving a map means a file: a device or a pipe, even
            // one with nobody reading, is refused at once.
            QTest::addRow("%s, device", entry) << entry << "/dev/full"
                                               << "it is a device, not a file";
            QTest::addRow("%s, pipe", entry) << entry << "@/pipe"
                                             << "it is a pipe, not a file";
            QTest::addRow("%s, no folder", entry) << entry << "@/missing/map"
                                                  << "No such file or directory";
#endif
        }
    }
    void failedSaveIsReportedAndLeavesNothing()
    {
        QFETCH(QString, entry);
        QFETCH(QString, target);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        target.replace(u'@', dir.path());
#ifndef Q_OS_WIN
        const bool pipe = target.endsWith(QStringLiteral("/pipe"));
        QVERIFY(!pipe || ::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
#endif
        QStringList proposed;
        Program program;
        program.WorldScr.setFileChooser(choosing(target, proposed));
        ErrorBoxWatcher boxes;
        bool stillOpen = false;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            find<QAction>(map, entry.toLatin1().constData())->trigger();
            stillOpen = map.isVisible() && map.isEnabled();
        }));
        QVERIFY(stillOpen);
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY2(boxes.boxes()[0].text.startsWith("Cannot save '" + target + "': "), qPrintable(boxes.boxes()[0].text));
        QVERIFY2(boxes.boxes()[0].text.contains(reason), qPrintable(boxes.boxes()[0].text));
#ifndef Q_OS_WIN
        QVERIFY(!pipe || QFile::remove(target));
#endif
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    void proposedNameIsTheNameWritten_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("name");
        const QString limit = QString(249, u'a'); // with "-7.png", 255 in all
        QTest::newRow("plain") << "Isles"
                               << "7"
                               << "Isles-7.png";
        QTest::newRow("untitled") << ""
                                  << "7"
                                  << "Untitled-7.png";
        QTest::newRow("quotes") << "The \"Lost\" Isles"
                                << "7"
                                << "The _Lost_ Isles-7.png";
        QTest::newRow("folders and wildcards") << "a/b\\c:d*e?f<g>h|i"
                                               << "7"
                                               << "a_b_c_d_e_f_g_h_i-7.png";
        QTest::newRow("control characters") << QStringLiteral("a\tb\x7f\u0085c\nd") << "7"
                                            << "a_b__c_d-7.png";
        QTest::newRow("lone surrogate") << QStringLiteral("a") + QChar(0xd800) + QStringLiteral("b") << "7"
                                        << "a_b-7.png";
        QTest::newRow("leading dots, trailing blanks and dots") << "..hidden. ."
                                                                << "7"
                                                                << "__hidden___-7.png";
        QTest::newRow("seed with specials") << "Isles"
                                            << " $7F/*."
                                            << "Isles- $7F__..png";
        QTest::newRow("longest kept whole") << limit << "7" << limit + "-7.png";
        QTest::newRow("long cut") << limit + "bcd"
                                  << "7" << limit + "-7.png";
        QTest::newRow("cut leaves a dot") << QString(248, u'a') + ".b"
                                          << "7" << QString(248, u'a') + "_-7.png";
#ifdef Q_OS_WIN
        // Windows counts UTF-16 units: both fit whole.
        QTest::newRow("two-byte characters") << QString(200, u'\u00e9') << "7" << QString(200, u'\u00e9') + "-7.png";
        QTest::newRow("surrogate pairs") << QStringLiteral("\U0001F30D").repeated(100) << "7"
                                         << QStringLiteral("\U0001F30D").repeated(100) + "-7.png";
#else
        // 255 bytes of UTF-8, never half a character.
        QTest::newRow("two-byte characters") << QString(200, u'\u00e9') << "7" << QString(124, u'\u00e9') + "-7.png";
        QTest::newRow("surrogate pairs") << QStringLiteral("\U0001F30D").repeated(100) << "7"
                                         << QStringLiteral("\U0001F30D").repeated(62) + "-7.png";
#endif
    }
    void proposedNameIsTheNameWritten()
    {
        QFETCH(QString, title);
        QFETCH(QString, seed);
        QFETCH(QString, name);
        WorldSettings settings;
        settings.Title = title;
        settings.SeedText = seed;
        QCOMPARE(proposedFileName(settings, QStringLiteral("png")), name);
    }

    // The settings that remember the folder cannot be written: the save
    // still ends, the picture is written, only the folder is forgotten.
    void saveDoesNotWaitForTheSettings_data()
    {
        QTest::addColumn<bool>("lockIsAFolder");
        QTest::newRow("lock is a folder") << true;
        QTest::newRow("settings file and folder read-only") << false;
    }
    void saveDoesNotWaitForTheSettings()
    {
        QFETCH(bool, lockIsAFolder);
#ifdef Q_OS_WIN
        QSKIP("Windows keeps the settings in the registry, which has no lock file");
#endif
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("map.png"));
        const QString settingsFile = QSettings(QStringLiteral("Terralume"), QStringLiteral("Terralume")).fileName();
        const QString settingsFolder = QFileInfo(settingsFile).absolutePath();
        const QString lock = settingsFile + QStringLiteral(".lock");
        const auto readOnly = QFile::ReadOwner | QFile::ExeOwner;
        // Cleared before too: a run that was stopped may have left them.
        const auto clear = [&] {
            QFile::setPermissions(settingsFolder, readOnly | QFile::WriteOwner);
            QDir(lock).removeRecursively();
            QFile::setPermissions(settingsFile, QFile::ReadOwner | QFile::WriteOwner);
            QFile::remove(settingsFile);
        };
        clear();
        const auto restore = qScopeGuard(clear);
        QVERIFY(QDir().mkpath(settingsFolder));
        QSettings(QStringLiteral("Terralume"), QStringLiteral("Terralume"))
            .setValue("save/lastFolder", QDir::tempPath());
        QVERIFY(!lockIsAFolder || QDir().mkpath(lock));
        QVERIFY(lockIsAFolder || (QFile::setPermissions(settingsFile, QFile::ReadOwner) &&
                                  QFile::setPermissions(settingsFolder, readOnly)));

        QStringList proposed;
        Program program;
        program.WorldScr.setFileChooser(choosing(saved, proposed));
        ErrorBoxWatcher boxes;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            const WithoutOverride user;
            find<QAction>(map, "SavePicture1")->trigger();
        }));
        QCOMPARE(boxes.boxes().size(), 0);
        QVERIFY(!QImage(saved).isNull());
        QCOMPARE(lastSaveFolder(), QDir::tempPath());
    }

    void cutTitleIsSavedAndTold()
    {
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("map.png"));
        // Cut within the two-byte characters: 4096 bytes hold 2048 of them.
        const QString title = QString(kRecordTitleLimit / 2 + 1, u'\u00e9');
        QStringList proposed;
        Program program;
        enterSettings(program.World1, WorldRecord{"Small", "7", 0, 0, title});
        program.WorldScr.setFileChooser(choosing(saved, proposed));
        ErrorBoxWatcher boxes;
        QVERIFY(withMapOpen(program.World1, program.WorldScr,
                            [&](TWorldScr &map) { find<QAction>(map, "SavePicture1")->trigger(); }));
        QCOMPARE(boxes.boxes().size(), 1);
        const ShownBox box = boxes.boxes()[0];
        QCOMPARE(box.caption, QStringLiteral("Terralume"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.text, QStringLiteral("The title is longer than a picture can record: the saved picture records "
                                          "its first 2048 characters."));
        QCOMPARE(readWorldRecord(saved).title, QString(kRecordTitleLimit / 2, u'\u00e9'));
    }

    void droppedPictureMakesTheSameMap_data()
    {
        QTest::addColumn<QString>("dropped"); // "saved", "plain" or "text"
        QTest::addColumn<QString>("on");      // the window, or the field under the drop
        QTest::addColumn<QString>("refusal"); // empty: accepted
        QTest::newRow("saved picture") << "saved"
                                       << "World1"
                                       << "";
        QTest::newRow("saved picture on the title field") << "saved"
                                                          << "edTitle"
                                                          << "";
        QTest::newRow("picture without settings") << "plain"
                                                  << "edRandSeed"
                                                  << "records no world settings";
        QTest::newRow("not a picture") << "text"
                                       << "World1"
                                       << "is not a PNG picture";
    }
    void droppedPictureMakesTheSameMap()
    {
        QFETCH(QString, dropped);
        QFETCH(QString, on);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString file = dir.filePath(dropped + ".png");
        const WorldRecord world{"Large", "-12", -15, 22, QStringLiteral("  Far  Shore")};
        QImage made;
        if (dropped == "saved") {
            QStringList proposed;
            Program maker;
            enterSettings(maker.World1, world);
            maker.WorldScr.setFileChooser(choosing(file, proposed));
            QVERIFY(withMapOpen(maker.World1, maker.WorldScr, [&](TWorldScr &map) {
                made = map.baseImage().copy();
                zoomEntries(map)[1]->trigger();
                find<QAction>(map, "SavePicture1")->trigger();
            }));
        } else if (dropped == "plain") {
            QVERIFY(QImage(4, 4, QImage::Format_RGB888).save(file));
        } else {
            QFile text(file);
            QVERIFY(text.open(QIODevice::WriteOnly) && text.write("a note\n") > 0);
        }

        Program program;
        const WorldRecord before{"Medium", "5", 3, -4, QStringLiteral("Kept")};
        enterSettings(program.World1, before);
        ErrorBoxWatcher boxes;
        QWidget *target = on == "World1" ? static_cast<QWidget *>(&program.World1)
                                         : find<QLineEdit>(program.World1, on.toLatin1().constData());
        drop(*target, file);
        if (!refusal.isEmpty()) {
            QCOMPARE(boxes.boxes().size(), 1);
            QVERIFY2(boxes.boxes()[0].text.contains(refusal), qPrintable(boxes.boxes()[0].text));
            QVERIFY(shownSettings(program.World1) == before);
            return;
        }
        QCOMPARE(boxes.boxes().size(), 0);
        QVERIFY(shownSettings(program.World1) == world);
        QImage again;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) { again = map.baseImage().copy(); }));
        QVERIFY(!made.isNull());
        QVERIFY(again == made);
    }

    // The file named in the URL is the one read, byte for byte; one that is
    // refused shows its reason at once.
    void droppedFileIsTheOneNamed_data()
    {
        QTest::addColumn<QByteArray>("name"); // in the test's folder, as the file system has it
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("refusal");   // empty: accepted
        QTest::addColumn<WorldRecord>("world"); // the settings an accepted file brings
        const WorldRecord world{"Medium", "-3", 8, -9, QStringLiteral("Dropped")};
        const QByteArray saved = encodeRecordedPng(QImage(4, 4, QImage::Format_RGB16), world);
        QImage bomb = QImage::fromData(saved);
        bomb.setText(QStringLiteral("Title"), QString(16 << 20, u'a'));
        QBuffer packed;
        packed.open(QIODevice::WriteOnly);
        bomb.save(&packed, "PNG");
        QTest::newRow("title unpacking to 16 MB")
            << QByteArray("bomb.png") << packed.data() << "records a title longer than 4096 bytes" << WorldRecord{};
#ifdef Q_OS_UNIX
        QTest::newRow("name that is not UTF-8") << QByteArray("nu\xff.png") << saved << "" << world;
#endif
    }
    void droppedFileIsTheOneNamed()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, contents);
        QFETCH(QString, refusal);
        QFETCH(WorldRecord, world);
        QTemporaryDir dir;
#ifdef Q_OS_UNIX
        // The URL is made from the name's bytes, as a file manager makes it.
        const QByteArray file = QFile::encodeName(dir.path()) + '/' + name;
        const QUrl url = QUrl::fromEncoded("file://" + file.toPercentEncoding("/"));
        std::FILE *out = std::fopen(file.constData(), "wb");
        QVERIFY(out);
        QCOMPARE(std::fwrite(contents.constData(), 1, size_t(contents.size()), out), size_t(contents.size()));
        QCOMPARE(std::fclose(out), 0);
#else
        const QString file = dir.filePath(QString::fromUtf8(name));
        const QUrl url = QUrl::fromLocalFile(file);
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(contents) == contents.size());
        out.close();
#endif
        Program program;
        const WorldRecord before{"Small", "5", 3, -4, QStringLiteral("Kept")};
        enterSettings(program.World1, before);
        ErrorBoxWatcher boxes;
        QMimeData data;
        data.setUrls({url});
        const QPoint at = program.World1.rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&program.World1, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&program.World1, &dropped);
        if (refusal.isEmpty()) {
            QCOMPARE(boxes.boxes().size(), 0);
            QVERIFY(shownSettings(program.World1) == world);
            return;
        }
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY2(boxes.boxes()[0].text.contains(refusal), qPrintable(boxes.boxes()[0].text));
        QVERIFY(shownSettings(program.World1) == before);
    }

    void pageAndClipboard()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("page.pdf"));
        QStringList proposed;
        Program program;
        enterSettings(program.World1, WorldRecord{"Small", "99", 0, 0, QStringLiteral("Shore")});
        program.WorldScr.setFileChooser(choosing(pdf, proposed));
        QSignalSpy ended(&program.WorldScr, &TWorldScr::jobEnded);
        QImage shown;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            zoomEntries(map)[1]->trigger();
            shown = map.viewImage().convertToFormat(QImage::Format_RGB888);
            find<QAction>(map, "Copy1")->trigger();
            QVERIFY(!ended.isEmpty() || ended.wait());
            find<QAction>(map, "SavePdf1")->trigger();
        }));
        QCOMPARE(ended.size(), 2);
        const QMimeData *offered = QGuiApplication::clipboard()->mimeData();
        QVERIFY(offered);
        // Other programs are offered the PNG made already: on X11 Qt would
        // encode any other image type on request, on the window's thread.
#ifndef Q_OS_WIN
        QCOMPARE(offered->formats(), QStringList{QStringLiteral("image/png")});
#endif
        QCOMPARE(
            QImage::fromData(offered->data(QStringLiteral("image/png")), "PNG").convertToFormat(QImage::Format_RGB888),
            shown);
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888), shown);
        QCOMPARE(QFileInfo(proposed.value(0)).fileName(), QStringLiteral("Shore-99.pdf"));
        QFile page(pdf);
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().startsWith("%PDF-"));
    }

    // One job at a time: a command given while another one works is refused
    // with what is at work, and the one at work still ends as it would.
    void secondCommandWhileAJobRunsIsRefused_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("save, then save") << "SavePicture1"
                                         << "SavePdf1"
                                         << "Saving in progress.";
        QTest::newRow("page, then copy") << "SavePdf1"
                                         << "Copy1"
                                         << "Saving in progress.";
        QTest::newRow("copy, then save") << "Copy1"
                                         << "SavePicture1"
                                         << "Copying in progress.";
    }
    void secondCommandWhileAJobRunsIsRefused()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("map"));
        QStringList proposed;
        Program program;
        program.WorldScr.setFileChooser(choosing(file, proposed));
        QSignalSpy ended(&program.WorldScr, &TWorldScr::jobEnded);
        ErrorBoxWatcher boxes;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            find<QAction>(map, first.toLatin1().constData())->trigger();
            QVERIFY(map.jobRunning());
            find<QAction>(map, second.toLatin1().constData())->trigger();
            QVERIFY(!ended.isEmpty() || ended.wait());
        }));
        QCOMPARE(ended.size(), 1);
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes()[0].text, refusal);
        // The first one's file, or the clipboard, and only that.
        QCOMPARE(proposed.size(), first == "Copy1" ? 0 : 1);
        QCOMPARE(QFile::exists(file), first != "Copy1");
    }
};

QTEST_MAIN(MapSaveTest)
#include "MapSaveTest.moc"
