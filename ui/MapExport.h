#pragma once
// The map window's commands that take its picture away: Print, Save Picture
// As, Save Page As PDF and Copy, and what they share.

#include "BackgroundJob.h"
#include "MapPrinter.h"
#include "WaitCursor.h"
#include "WorldRecord.h"
#include "WorldSettings.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace terralume::ui {

WorldRecord recordOf(const WorldSettings &settings);

// "<title or Untitled>-<seed>.<suffix>", the name a file dialog writes as it
// is: what a file system or a dialog on Linux or Windows treats specially is
// replaced by '_', and a long title is cut so that the whole name fits the
// file systems' 255 (bytes of UTF-8; UTF-16 units on Windows).
QString proposedFileName(const WorldSettings &settings, const QString &suffix);

// The folder the last save went to, kept between runs; at first the user's
// Pictures folder, or the home folder where there is none.
QString lastSaveFolder();

// Writes `bytes` to `path` all or nothing and remembers its folder; on
// failure throws an error whose message names the file and gives the
// system's reason, and the last folder stays as it was. Only a regular file
// (or a new one) is written: a person saving a map means a file. The folder
// is remembered only when the settings can be written at once; saving never
// waits for them.
void saveWhole(const QString &path, const QByteArray &bytes);

// The page's paper when no printer is asked: the default printer's when
// there is one and it takes A4 or Letter, else the locale's.
print::PdfOptions defaultPdfPaper();

// The four commands and the one job they share. Each works off the window's
// thread on its own copy of the view, so that the window keeps answering
// and a zoom meanwhile changes nothing of what is printed or saved. One job
// at a time: another command meanwhile is refused with the running job's
// "... in progress" message. The hourglass shows while a job works (for
// Print: after the conversion).
class MapExportCommands : public QObject {
    Q_OBJECT
public:
    // Asks where to save: given the dialog's caption, the proposed path and
    // the file filter, returns the chosen path, or nothing when cancelled.
    using FileChooser =
        std::function<QString(QWidget *parent, const QString &caption, const QString &proposed, const QString &filter)>;

    // Dialogs and boxes show over `window`, which owns this object.
    explicit MapExportCommands(QWidget *window);

    // An empty chooser restores the file dialog.
    void setFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    bool running() const { return job_.running(); }

    // `converted` receives the printed 8-bit copy of the view (PrintBitmap)
    // on the window's thread once it is made, whatever becomes of the job.
    void print(const QImage &view, const WorldSettings &settings, std::function<void(QImage)> converted);
    void savePicture(const QImage &view, const WorldSettings &settings);
    void savePage(const QImage &view, const WorldSettings &settings);
    void copy(const QImage &view);

    // The window closes and waits for nothing: a Print gives up at once
    // (nothing half-sent is reported as printed, and its failure is not
    // shown over a window that is gone); a save or a copy ends by itself
    // and its outcome is still told. The hourglass goes now.
    void abandon();

signals:
    // A job has ended and its outcome has been shown.
    void ended();

private:
    enum class Hourglass { Now, NotNow };
    void refuseWhileBusy() const;
    void start(const char *inProgress, Hourglass hourglass, BackgroundJob::Work work,
               std::function<void()> succeeded = {});
    QString chooseFile(const WorldSettings &settings, const QString &caption, const QString &suffix,
                       const QString &filter);

    QWidget *window_;
    FileChooser fileChooser_;
    std::optional<WaitCursor> cursor_;
    const char *inProgress_ = nullptr;
    bool abandoned_ = false;
    // Declared last, so it goes first: its work is waited for while the
    // rest is still whole.
    BackgroundJob job_;
};

} // namespace terralume::ui
