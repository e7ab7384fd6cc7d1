// A saved picture is the same file wherever it was made, and its record is
// found however other programs have rearranged or padded the file.
#include "WorldRecord.h"

#include <QBuffer>
#include <QTest>
#include <QtEndian>

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
    // The reader does not check the CRC, so any four bytes do.
    return bytes + type + data + QByteArray(4, '\0');
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

    void recordIsFoundPastOtherChunks_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("a text chunk too long to be a record") << chunk("tEXt", "Comment\0" + QByteArray(300000, 'x'));
        QTest::newRow("an unknown chunk") << chunk("prVt", QByteArray(1000, '\1'));
    }

    void recordIsFoundPastOtherChunks()
    {
        QFETCH(QByteArray, before);
        const WorldRecord record{QStringLiteral("Medium"), QStringLiteral(" 12"), -40, 40, QStringLiteral("  Two  seas ")};
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
};

QTEST_GUILESS_MAIN(WorldRecordTest)
#include "WorldRecordTest.moc"
