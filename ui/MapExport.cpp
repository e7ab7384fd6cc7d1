#include "MapExport.h"

#include "OutputFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>

#include <stdexcept>

namespace terralume::ui {

namespace {

const QString kFolderKey = QStringLiteral("save/lastFolder");

QSettings settingsStore() { return QSettings(QStringLiteral("Terralume"), QStringLiteral("Terralume")); }

} // namespace

WorldRecord recordOf(const WorldSettings &settings)
{
    return WorldRecord{settings.SizeName, settings.SeedText, settings.WaterPosition, settings.HeatPosition,
                       settings.Title};
}

QString proposedFileName(const WorldSettings &settings, const QString &suffix)
{
    QString name = (settings.Title.isEmpty() ? QStringLiteral("Untitled") : settings.Title) + u'-' + settings.SeedText +
                   u'.' + suffix;
    for (QChar &c : name)
        if (c == u'/' || c == u'\\' || c == QChar(0) || c.category() == QChar::Other_Control)
            c = u'_';
    return name;
}

QString lastSaveFolder()
{
    const QString folder = settingsStore().value(kFolderKey).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

void saveWhole(const QString &path, const QByteArray &bytes)
{
    QString reason;
    if (!writeFileAtomically(encodeFileName(path), bytes, reason))
        throw std::runtime_error(QStringLiteral("Cannot save '%1': %2").arg(path, reason).toStdString());
    settingsStore().setValue(kFolderKey, QFileInfo(path).absolutePath());
}

print::PdfOptions defaultPdfPaper()
{
    if (const auto paper = print::defaultPrinterPaper())
        return {*paper, false};
    return {QLocale().measurementSystem() == QLocale::ImperialUSSystem ? print::Paper::Letter : print::Paper::A4,
            false};
}

} // namespace terralume::ui
