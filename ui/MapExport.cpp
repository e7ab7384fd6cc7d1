#include "MapExport.h"

#include "OutputFile.h"
#include "PrintJob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>

#include <stdexcept>

namespace terralume::ui {

namespace {

const QString kFolderKey = QStringLiteral("save/lastFolder");

QSettings settingsStore() { return QSettings(QStringLiteral("Terralume"), QStringLiteral("Terralume")); }

// What the longest name may take: 255 bytes of UTF-8 on Linux's file
// systems, 255 UTF-16 units on Windows'.
constexpr qsizetype kNameLimit = 255;

qsizetype nameWidth(char32_t codePoint)
{
#ifdef Q_OS_WIN
    return QChar::requiresSurrogates(codePoint) ? 2 : 1;
#else
    return codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
#endif
}

// Quotes split a typed name into several in Qt's file dialog; the rest are
// refused by Windows or mean a folder; control characters and lone
// surrogates cannot be typed or encoded.
QString withoutSpecialCharacters(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate() || c.category() == QChar::Other_Control || QStringView(u"\"/\\:*?<>|").contains(c))
            text[i] = u'_';
    }
    return text;
}

// How long QSettings may wait for its lock before the folder is forgotten.
constexpr int kSettingsLockWaitMs = 500;

// QSettings waits for its lock file for as long as it takes, and forever when
// the lock cannot be made at all (a folder in its place); the folder is only
// a convenience, so it is written only when the lock can be had now.
void rememberFolder(const QString &folder)
{
    QSettings store = settingsStore();
#ifndef Q_OS_WIN // Windows keeps settings in the registry, which has no lock file
    const QString file = store.fileName();
    QDir().mkpath(QFileInfo(file).absolutePath());
    {
        QLockFile lock(file + QStringLiteral(".lock"));
        if (!lock.tryLock(kSettingsLockWaitMs))
            return;
    }
#endif
    // Stored as the system writes names (backslashes on Windows), as a person
    // reading the settings expects.
    store.setValue(kFolderKey, QDir::toNativeSeparators(folder));
    store.sync();
}

} // namespace

WorldRecord recordOf(const WorldSettings &settings)
{
    return WorldRecord{settings.SizeName, settings.SeedText, settings.WaterPosition, settings.HeatPosition,
                       settings.Title};
}

QString proposedFileName(const WorldSettings &settings, const QString &suffix)
{
    QString title = withoutSpecialCharacters(settings.Title.isEmpty() ? QStringLiteral("Untitled") : settings.Title);
    const QString tail = u'-' + withoutSpecialCharacters(settings.SeedText) + u'.' + suffix;
    qsizetype room = kNameLimit;
    for (const char32_t c : tail.toUcs4())
        room -= nameWidth(c);
    qsizetype kept = 0;
    while (kept < title.size()) {
        const bool pair = title[kept].isHighSurrogate();
        const qsizetype width =
            nameWidth(pair ? QChar::surrogateToUcs4(title[kept], title[kept + 1]) : char32_t(title[kept].unicode()));
        if (width > room)
            break;
        room -= width;
        kept += pair ? 2 : 1;
    }
    title.truncate(kept);
    // A leading dot hides a file on Linux; Windows drops blanks and dots at
    // the end of a name. Each is replaced where the cut leaves it.
    for (qsizetype i = 0; i < title.size() && title[i] == u'.'; ++i)
        title[i] = u'_';
    for (qsizetype i = title.size(); i > 0 && (title[i - 1] == u' ' || title[i - 1] == u'.'); --i)
        title[i - 1] = u'_';
    return title + tail;
}

QString lastSaveFolder()
{
    const QString folder = QDir::fromNativeSeparators(settingsStore().value(kFolderKey).toString());
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return folder;
    // A map is a picture: the first save goes where the user keeps pictures.
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void saveWhole(const QString &path, const QByteArray &bytes)
{
    QString reason;
    if (!writeFileAtomically(encodeFileName(path), bytes, reason, Target::RegularFileOnly))
        throw std::runtime_error(QStringLiteral("Cannot save '%1': %2").arg(path, reason).toStdString());
    rememberFolder(QFileInfo(path).absolutePath());
}

print::PdfOptions defaultPdfPaper()
{
    if (const auto paper = print::defaultPrinterPaper())
        return {*paper, false};
    return {QLocale().measurementSystem() == QLocale::ImperialUSSystem ? print::Paper::Letter : print::Paper::A4,
            false};
}

} // namespace terralume::ui
