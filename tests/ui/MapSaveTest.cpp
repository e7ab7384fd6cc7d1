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
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
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
TWorldScr::FileChooser choosing(const QString &answer, QStringList &proposed)
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
        QCOMPARE(QFileInfo(proposed[0]).fileName(),
                 (world.title.isEmpty() ? QStringLiteral("Untitled") : world.title) + u'-' + world.seedText + ".png");

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

    void failedSaveIsReportedAndLeavesNothing_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("target"); // "@" stands for the test's folder
        QTest::addColumn<QString>("reason");
        for (const char *entry : {"SavePicture1", "SavePdf1"}) {
#ifdef Q_OS_WIN
            // Windows has no full device; a name it refuses fails the save
            // at its start instead. The reasons are the system's own words.
            QTest::addRow("%s, name refused", entry) << entry << "@/map<1>.png" << qt_error_string(ERROR_INVALID_NAME);
            QTest::addRow("%s, no folder", entry) << entry << "@/missing/map" << qt_error_string(ERROR_PATH_NOT_FOUND);
#else
            QTest::addRow("%s, full disk", entry) << entry << "/dev/full"
                                                  << "No space left on device";
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
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
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
        QImage shown;
        QVERIFY(withMapOpen(program.World1, program.WorldScr, [&](TWorldScr &map) {
            zoomEntries(map)[1]->trigger();
            shown = map.viewImage().convertToFormat(QImage::Format_RGB888);
            find<QAction>(map, "Copy1")->trigger();
            find<QAction>(map, "SavePdf1")->trigger();
        }));
        QCOMPARE(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB888), shown);
        QCOMPARE(QFileInfo(proposed.value(0)).fileName(), QStringLiteral("Shore-99.pdf"));
        QFile page(pdf);
        QVERIFY(page.open(QIODevice::ReadOnly));
        QVERIFY(page.readAll().startsWith("%PDF-"));
    }
};

QTEST_MAIN(MapSaveTest)
#include "MapSaveTest.moc"
