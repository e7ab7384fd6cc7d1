#include "MapExport.h"

#include "OutputFile.h"
#include "PrintError.h"
#include "PrintJob.h"
#include "TerralumeApplication.h"
#include "ViewPng.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QLockFile>
#include <QMessageBox>
#include <QMimeData>
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

const QString kPngType = QStringLiteral("image/png");
const QString kQtImageType = QStringLiteral("application/x-qt-image");

// The view on the clipboard, its PNG encoded already. On X11 Qt offers every
// image type it can write for a picture and encodes the one asked for on the
// window's thread when another program pastes; offered as PNG bytes alone,
// a paste costs the window nothing. This program's own pastes take the
// picture itself. Windows programs paste bitmaps, which Qt makes from the
// picture, so there the picture is offered too.
class ClipboardPicture : public QMimeData {
public:
    ClipboardPicture(QImage picture, QByteArray png) : picture_(std::move(picture)), png_(std::move(png)) {}

    QStringList formats() const override
    {
#ifdef Q_OS_WIN
        return {kPngType, kQtImageType};
#else
        return {kPngType};
#endif
    }
    bool hasFormat(const QString &type) const override { return formats().contains(type); }

protected:
    QVariant retrieveData(const QString &type, QMetaType) const override
    {
        if (type == kPngType)
            return png_;
        if (type == kQtImageType)
            return picture_;
        return {};
    }

private:
    QImage picture_;
    QByteArray png_;
};

// The page's title is the map's caption; the footer records the settings
// the shown map was made with.
print::PageDescription pageOf(const WorldSettings &settings)
{
    return print::pageFor(settings.Title, settings.SizeName, settings.WaterPosition, settings.HeatPosition);
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

MapExportCommands::MapExportCommands(QWidget *window) : window_(window) {}

void MapExportCommands::refuseWhileBusy() const
{
    if (job_.running())
        throw std::runtime_error(inProgress_);
}

void MapExportCommands::start(const char *inProgress, Hourglass hourglass, BackgroundJob::Work work,
                              std::function<void()> succeeded)
{
    refuseWhileBusy();
    inProgress_ = inProgress;
    // Before the start: without a thread the work runs in it, and the
    // cursor is back to normal when it returns.
    if (hourglass == Hourglass::Now)
        cursor_.emplace();
    try {
        job_.start(std::move(work), [this, succeeded = std::move(succeeded)](std::exception_ptr failure) {
            cursor_.reset();
            abandoned_ = false;
            try {
                if (failure)
                    std::rethrow_exception(failure);
                if (succeeded)
                    succeeded();
            } catch (const print::PrintAbandoned &) {
                // Given up with its window: nothing of it was printed, as the
                // person who closed the window meant.
            } catch (...) {
                reportError(std::current_exception());
            }
            emit ended();
        });
    } catch (...) {
        cursor_.reset();
        throw;
    }
}

void MapExportCommands::abandon()
{
    if (!job_.running())
        return;
    abandoned_ = true;
    job_.requestStop();
    cursor_.reset();
}

void MapExportCommands::print(const QImage &view, const WorldSettings &settings,
                              std::function<void(QImage)> converted)
{
    refuseWhileBusy();
    const print::PageDescription page = pageOf(settings);
    start("Printing in progress", Hourglass::NotNow,
          [this, view, page, converted = std::move(converted)](const BackgroundJob::HandBack &handBack,
                                                                std::stop_token stop) {
              QImage printBitmap;
              // The conversion runs under the normal cursor, the job under
              // the hourglass. PrintBitmap is the converted view from then
              // on, whatever becomes of the job.
              print::PrintMap(
                  view, page, printBitmap,
                  [&] {
                      handBack([this, converted, printBitmap] {
                          converted(printBitmap);
                          if (!abandoned_)
                              cursor_.emplace();
                      });
                  },
                  stop);
          });
}

QString MapExportCommands::chooseFile(const WorldSettings &settings, const QString &caption, const QString &suffix,
                                      const QString &filter)
{
    const QString proposed = QDir(lastSaveFolder()).filePath(proposedFileName(settings, suffix));
    return fileChooser_ ? fileChooser_(window_, caption, proposed, filter)
                        : QFileDialog::getSaveFileName(window_, caption, proposed, filter);
}

void MapExportCommands::savePicture(const QImage &view, const WorldSettings &settings)
{
    refuseWhileBusy();
    const QString file = chooseFile(settings, QStringLiteral("Save Picture As"), QStringLiteral("png"),
                                    QStringLiteral("PNG pictures (*.png)"));
    if (file.isEmpty())
        return;
    const WorldRecord record = recordOf(settings);
    start(
        "Saving in progress", Hourglass::Now,
        [view, record, file](const BackgroundJob::HandBack &, std::stop_token) {
            const QByteArray png = encodeRecordedPng(view, record);
            if (png.isEmpty())
                throw std::runtime_error("Cannot save '" + file.toStdString() +
                                         "': the picture could not be encoded as PNG");
            saveWhole(file, png);
        },
        [this, record] {
            // The picture is saved all the same; the person learns what it
            // keeps.
            const QString recorded = recordedTitle(record.title);
            if (recorded.size() < record.title.size()) {
                QMessageBox box(QMessageBox::Information, QStringLiteral("Terralume"),
                                QStringLiteral("The title is longer than a picture can record: the saved picture "
                                               "records its first %1 characters.")
                                    .arg(recorded.toUcs4().size()),
                                QMessageBox::Ok, window_);
                box.exec();
            }
        });
}

void MapExportCommands::savePage(const QImage &view, const WorldSettings &settings)
{
    refuseWhileBusy();
    const QString file = chooseFile(settings, QStringLiteral("Save Page As PDF"), QStringLiteral("pdf"),
                                    QStringLiteral("PDF files (*.pdf)"));
    if (file.isEmpty())
        return;
    const print::PageDescription page = pageOf(settings);
    // The default printer's paper is looked up in the job too: a spooler
    // that is slow to answer holds up the page, not the window.
    start("Saving in progress", Hourglass::Now, [view, page, file](const BackgroundJob::HandBack &, std::stop_token) {
        saveWhole(file, print::composePdfBytes(view, page, defaultPdfPaper()));
    });
}

void MapExportCommands::copy(const QImage &view)
{
    start("Copying in progress", Hourglass::NotNow,
          [view](const BackgroundJob::HandBack &handBack, std::stop_token) {
              QByteArray png = encodeViewPng(view);
              if (png.isEmpty())
                  throw std::runtime_error("The picture could not be encoded as PNG");
              handBack([view, png = std::move(png)]() mutable {
                  QGuiApplication::clipboard()->setMimeData(new ClipboardPicture(view, std::move(png)));
              });
          });
}

} // namespace terralume::ui
