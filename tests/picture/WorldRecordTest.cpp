// A saved picture is the same file wherever it was made, its record is
// found however other programs have rearranged or padded the file, and a
// file made to harm the reader is refused at once, in little memory.
#include "WorldRecord.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace terralume;

namespace {

QImage smallPicture(int dotsPerMetre)
{
    QImage picture(7, 3, QImage::Format_RGB16);
    picture.fill(Qt::blue);
    picture.setDotsPerMeterX(dotsPerMetre);
    picture.setDotsPerMeterY(dotsPerMetre);
    return picture;
}

WorldRecord read(QByteArray png)
{
    QBuffer device(&png);
    device.open(QIODevice::ReadOnly);
    return readWorldRecord(device, QStringLiteral("test.png"));
}

QByteArray chunk(const QByteArray &type, const QByteArray &data)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), bytes.data());
    const QByteArray checked = type + data;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef *>(checked.constData()), uInt(checked.size()))),
                          crc.data());
    return bytes + checked + crc;
}

// `size` bytes of one letter as a zlib stream: a few kilobytes standing for
// as many megabytes.
QByteArray deflatedRun(qsizetype size) { return qCompress(QByteArray(size, 'a'), 9).sliced(4); }

QByteArray recorded(const QString &title = {})
{
    return encodeRecordedPng(smallPicture(3780), WorldRecord{"Small", "7", 3, -4, title});
}

// A recorded picture with `extra` after its header chunk, as another
// program may put its own.
QByteArray recordedWith(const QByteArray &extra) { return recorded().insert(8 + 25, extra); }

// A recorded picture whose chunk of `type` has `data` instead, with a
// checksum that fits it. For a text chunk, `type` is followed by the
// keyword, and a chunk of that key is added when the picture had none.
QByteArray recordedChanging(const QByteArray &type, const QByteArray &data)
{
    QByteArray png = recorded();
    const QByteArray key = type.mid(4);
    qsizetype at = key.isEmpty() ? png.indexOf(type) : png.indexOf(key + '\0');
    if (at < 0)
        return png.insert(8 + 25, chunk(type.left(4), key + '\0' + data));
    at -= key.isEmpty() ? 4 : 8;
    const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
    return png.replace(at, 12 + length, chunk(png.mid(at + 4, 4), key.isEmpty() ? data : key + '\0' + data));
}

// The first chunk `type` of `png`: its data.
QByteArray chunkData(const QByteArray &png, const QByteArray &type)
{
    const qsizetype at = png.indexOf(type) - 4;
    return png.mid(at + 8, qFromBigEndian<quint32>(png.constData() + at));
}

} // namespace

class WorldRecordTest : public QObject {
    Q_OBJECT
private slots:
    // The screen's resolution, which Qt gives every new picture, must not
    // reach the file: the window and the renderer write the same bytes.
    void fileDoesNotDependOnTheScreen()
    {
        const WorldRecord record{QStringLiteral("Large"), QStringLiteral("7"), 3, -4, QStringLiteral("Isles")};
        const QByteArray reference = encodeRecordedPng(smallPicture(3937), record);
        for (int dotsPerMetre : {2835, 3780, 5906})
            QCOMPARE(encodeRecordedPng(smallPicture(dotsPerMetre), record), reference);
    }

    // A palette holds a map's colours, and the pixels and the record come
    // back as they were; no map view has more (MapViewTest), and a picture
    // that does is refused, not written some other way.
    void pictureAndRecordReadBack_data()
    {
        QTest::addColumn<int>("colours");
        QTest::addColumn<bool>("written");
        QTest::newRow("one colour") << 1 << true;
        QTest::newRow("a whole palette") << 256 << true;
        QTest::newRow("one colour more than a palette") << 257 << false;
    }

    void pictureAndRecordReadBack()
    {
        QFETCH(int, colours);
        QFETCH(bool, written);
        QImage shown(16, (colours + 15) / 16, QImage::Format_RGB16);
        for (int k = 0; k < shown.width() * shown.height(); ++k)
            reinterpret_cast<quint16 *>(shown.scanLine(k / 16))[k % 16] = quint16(qMin(k, colours - 1) * 251);
        const WorldRecord record{QStringLiteral("Medium"), QStringLiteral("$1F"), -7, 9, QStringLiteral("Isles")};
        const QByteArray png = encodeRecordedPng(shown, record);
        QCOMPARE(!png.isEmpty(), written);
        if (!written)
            return;
        QCOMPARE(int(png[25]), 3); // a palette
        QCOMPARE(QImage::fromData(png).convertToFormat(QImage::Format_RGB888),
                 shown.convertToFormat(QImage::Format_RGB888));
        const WorldRecord back = read(png);
        QCOMPARE(back.size, record.size);
        QCOMPARE(back.seedText, record.seedText);
        QCOMPARE(back.water, record.water);
        QCOMPARE(back.heat, record.heat);
        QCOMPARE(back.title, record.title);
    }

    void recordIsFoundPastOtherChunks_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("a text chunk too long to be a record")
            << chunk("tEXt", QByteArray("Comment\0", 8) + QByteArray(300000, 'x'));
        QTest::newRow("a compressed text of another key")
            << chunk("zTXt", QByteArray("Comment\0\0", 9) + deflatedRun(10 << 20));
        QTest::newRow("an unknown chunk") << chunk("prVt", QByteArray(1000, '\1'));
    }

    void recordIsFoundPastOtherChunks()
    {
        QFETCH(QByteArray, before);
        const WorldRecord record{QStringLiteral("Medium"), QStringLiteral(" 12"), -40, 40,
                                 QStringLiteral("  Two  seas ")};
        QByteArray png = encodeRecordedPng(smallPicture(3780), record);
        // After the header chunk, as another program may put its own.
        png.insert(8 + 25, before);
        const WorldRecord back = read(png);
        QCOMPARE(back.size, record.size);
        QCOMPARE(back.seedText, record.seedText);
        QCOMPARE(back.water, record.water);
        QCOMPARE(back.heat, record.heat);
        QCOMPARE(back.title, record.title);
    }

    void onlyAWholeRecordIsRead_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("special"); // "sparse", "pipe", "folder", or a file of `contents`
        QTest::addColumn<QString>("outcome"); // "title: " the title read back, or the refusal's words

        const QString limitTitle = QString(1365, QChar(0x2014)) + u'a';
        QTest::newRow("title of exactly the limit")
            << recorded(limitTitle) << "" << QStringLiteral("title: ") + limitTitle;
        QTest::newRow("longer title, written cut")
            << recorded(QString(2100, QChar(0xe9))) << "" << QStringLiteral("title: ") + QString(2048, QChar(0xe9));
        const QString tooLong = QStringLiteral("records a title longer than 4096 bytes, the most a record holds");
        QTest::newRow("title over the limit") << recordedChanging("tEXtTitle", QByteArray(4097, 't')) << "" << tooLong;
        QTest::newRow("Latin-1 title over the limit in UTF-8")
            << recordedChanging("tEXtTitle", QByteArray(2049, '\xe9')) << "" << tooLong;
        const QByteArray bomb = deflatedRun(64 << 20);
        QTest::newRow("zTXt bomb") << recordedWith(chunk("zTXt", QByteArray("Title\0\0", 7) + bomb)) << "" << tooLong;
        QTest::newRow("compressed iTXt bomb")
            << recordedWith(chunk("iTXt", QByteArray("Title\0\1\0en\0\0", 12) + bomb)) << "" << tooLong;
        QTest::newRow("numeric text bomb")
            << recordedWith(chunk("zTXt", QByteArray("TerralumeWater\0\0", 16) + deflatedRun(1 << 20))) << ""
            << "records a water level longer than 16 bytes";
        QTest::newRow("compressed text that is not")
            << recordedWith(chunk("zTXt", QByteArray("Title\0\0", 7) + "not deflate")) << ""
            << "is a damaged PNG picture: its compressed text 'Title' cannot be unpacked";
        QByteArray badCrc = recorded();
        badCrc[8 + 25 - 1] = char(badCrc[8 + 25 - 1] ^ 1);
        QTest::newRow("checksum wrong") << badCrc << ""
                                        << "the checksum of a chunk 'IHDR' is wrong";
        QTest::newRow("one key, two values")
            << recordedWith(chunk("tEXt", QByteArray("TerralumeWater\0", 15) + "5")) << ""
            << "records two different values for its water level";
        QTest::newRow("one key, the same value twice")
            << recordedWith(chunk("tEXt", QByteArray("TerralumeWater\0", 15) + "3")) << ""
            << "title: ";
        for (const char *water : {"+3", " 3", "3 "})
            QTest::addRow("water '%s'", water) << recordedChanging("tEXtTerralumeWater", water) << ""
                                               << "records no valid water level";
        const QByteArray pixels = chunkData(recorded(), "IDAT");
        QTest::newRow("pixel data cut off") << recordedChanging("IDAT", pixels.left(pixels.size() - 6)) << ""
                                            << "is a damaged PNG picture: its pixel data is cut off";
        QTest::newRow("file cut off") << recorded().chopped(20) << ""
                                      << "is a damaged PNG picture: a chunk runs past the end of the file";
        QByteArray junk = recorded().left(8);
        for (int k = 0; k < 4096; ++k)
            junk.append(char(k * 7919 % 251));
        QTest::newRow("junk after the signature") << junk << ""
                                                  << "it holds a chunk that is not valid";
        // A header, then two gigabytes of nothing that costs no disk.
        QTest::newRow("sparse huge file") << recorded().left(8 + 25) << "sparse"
                                          << "it holds a chunk that is not valid";
#ifdef Q_OS_UNIX
        QTest::newRow("pipe") << QByteArray() << "pipe"
                              << "is a pipe, not a regular file";
#endif
        QTest::newRow("folder") << QByteArray() << "folder"
                                << "is a folder, not a regular file";
    }
    void onlyAWholeRecordIsRead()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, special);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("map.png"));
        if (special == "folder") {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("map.png")));
        } else if (special == "pipe") {
#ifdef Q_OS_UNIX
            QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
#endif
        } else {
            QFile file(name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
            if (special == "sparse")
                QVERIFY(file.resize(qint64(2) << 30));
        }
        QString refusal;
        WorldRecord record;
        QElapsedTimer clock;
        clock.start();
        try {
            record = readWorldRecord(name);
        } catch (const RecordError &error) {
            refusal = QString::fromUtf8(error.what());
        }
        // Not walked through byte by byte, nor unpacked whole.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        if (outcome.startsWith(QLatin1String("title: "))) {
            QCOMPARE(refusal, QString());
            QCOMPARE(record.title, outcome.mid(7));
            QCOMPARE(record.water, 3);
        } else {
            QVERIFY2(refusal.startsWith("'" + name + "' "), qPrintable(refusal));
            QVERIFY2(refusal.contains(outcome), qPrintable(refusal));
        }
    }
};

QTEST_GUILESS_MAIN(WorldRecordTest)
#include "WorldRecordTest.moc"
