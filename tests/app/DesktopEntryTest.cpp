// The launcher entry must pass the desktop's own validator and name an
// icon that the icon theme will actually hold.
#include <QFileInfo>
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
};

QTEST_GUILESS_MAIN(DesktopEntryTest)
#include "DesktopEntryTest.moc"
