// The launcher entry must pass the desktop's own validator and name an
// icon that the icon theme will actually hold; the program's icon has every
// size a desktop asks for, each a tile with see-through corners.
#include <QFileInfo>
#include <QImageReader>
#include <QSet>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

class DesktopEntryTest : public QObject {
    Q_OBJECT

private slots:
    void entryIsValid()
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed");
        QProcess check;
        check.start(validator, {QStringLiteral(TERRALUME_DESKTOP_ENTRY)});
        QVERIFY(check.waitForFinished(10000));
        QVERIFY2(check.exitCode() == 0, check.readAllStandardOutput().constData());
    }

    void entryNamesTheThemeIcon()
    {
        QSettings entry(QStringLiteral(TERRALUME_DESKTOP_ENTRY), QSettings::IniFormat);
        entry.beginGroup(QStringLiteral("Desktop Entry"));
        const QString icon = entry.value(QStringLiteral("Icon")).toString();
        QVERIFY(!icon.isEmpty());
        // A theme icon is named without folder or extension.
        QVERIFY(!icon.contains(QLatin1Char('/')) && !icon.contains(QLatin1Char('.')));
        for (const char *extension : {".png", ".svg"})
            QVERIFY2(QFileInfo::exists(QStringLiteral(TERRALUME_ASSETS_DIR "/") + icon + QLatin1String(extension)),
                     qPrintable(icon + QLatin1String(extension) + QStringLiteral(" is not among the assets")));
    }

    void iconHasEverySizeWithClearCorners_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("Windows icon") << QStringLiteral("terralume.ico") << QList<int>{16, 24, 32, 48, 256};
        QTest::newRow("theme, 16-colour") << QStringLiteral("terralume.png") << QList<int>{32};
        for (const int size : {16, 24, 48, 64, 128, 256})
            QTest::newRow(qPrintable(QStringLiteral("theme %1").arg(size)))
                << QStringLiteral("icons/terralume-%1.png").arg(size) << QList<int>{size};
    }

    void iconHasEverySizeWithClearCorners()
    {
        QFETCH(QString, file);
        QFETCH(QList<int>, sizes);
        QImageReader reader(QStringLiteral(TERRALUME_ASSETS_DIR "/") + file);
        QList<int> found;
        do {
            const QImage frame = reader.read().convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(!frame.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(frame.width(), frame.height());
            const int last = frame.width() - 1;
            for (const QPoint corner : {QPoint(0, 0), QPoint(last, 0), QPoint(0, last), QPoint(last, last)})
                QVERIFY2(qAlpha(frame.pixel(corner)) < 32, "a square tile's corner"); // smoothed edges leave a trace
            QCOMPARE(qAlpha(frame.pixel(last / 2, last / 2)), 255);
            // The 32-pixel frame is the classic sixteen-colour globe.
            if (frame.width() == 32) {
                QSet<QRgb> colours;
                for (int y = 0; y <= last; ++y)
                    for (int x = 0; x <= last; ++x)
                        if (qAlpha(frame.pixel(x, y)) != 0)
                            colours.insert(frame.pixel(x, y));
                QVERIFY(colours.size() <= 16);
            }
            found << frame.width();
        } while (reader.jumpToNextImage());
        std::sort(found.begin(), found.end());
        QCOMPARE(found, sizes);
    }
};

QTEST_GUILESS_MAIN(DesktopEntryTest)
#include "DesktopEntryTest.moc"
