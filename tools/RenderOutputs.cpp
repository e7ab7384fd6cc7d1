#include "RenderOutputs.h"

#include "OutputFile.h"
#include "PrintError.h"

#include <QGuiApplication>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

#include <memory>

namespace terralume {

namespace {

// Fonts need a GUI application. The renderer never needs a display, so it
// takes the offscreen platform whatever QT_QPA_PLATFORM names: a platform
// that cannot start would end the program.
class PageFonts {
public:
    PageFonts()
    {
        if (QCoreApplication::instance())
            return;
#ifdef Q_OS_WIN
        // The offscreen platform reads fonts from one folder only, and on
        // Windows it is not the system's: without this, every letter of the
        // page would be a box. A folder the caller names still wins.
        if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR")) {
            wchar_t windows[MAX_PATH];
            const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
            if (length > 0 && length < MAX_PATH)
                qputenv("QT_QPA_FONTDIR", (QString::fromWCharArray(windows, int(length)) + QStringLiteral("\\Fonts")).toLocal8Bit());
        }
#endif
        app_ = std::make_unique<QGuiApplication>(argc_, argv_);
    }

private:
    int argc_ = 3;
    char name_[17] = "terralume-render";
    char option_[10] = "-platform";
    char platform_[10] = "offscreen";
    char *argv_[4] = {name_, option_, platform_, nullptr};
    std::unique_ptr<QGuiApplication> app_;
};

std::string cannotWrite(const std::string &path, const QString &reason)
{
    return "cannot write '" + path + "': " + reason.toStdString();
}

// Every file is made whole in memory first, so nothing can fail half-way on
// the disk, and then written all or nothing.
StepFailure writeWhole(const std::string &file, const QByteArray &bytes)
{
    QString reason;
    if (writeFileAtomically(QByteArray::fromStdString(file), bytes, reason))
        return std::nullopt;
    return cannotWrite(file, reason);
}

} // namespace

// Rows top to bottom, so the picture shows cell [x][y] at column x, row y.
StepFailure writeHeights(const std::string &file, const World &world)
{
    const int side = world.Heights.side();
    QByteArray bytes = QByteArrayLiteral("P5\n") + QByteArray::number(side) + ' ' + QByteArray::number(side) +
                       QByteArrayLiteral("\n255\n");
    bytes.reserve(bytes.size() + qsizetype(side) * side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            bytes.append(static_cast<char>(world.Heights.at(x, y)));
    return writeWhole(file, bytes);
}

StepFailure writePng(const std::string &file, const QImage &shown, const WorldRecord &record)
{
    const QByteArray encoded = encodeRecordedPng(shown, record);
    if (encoded.isEmpty())
        return cannotWrite(file, QStringLiteral("the picture could not be encoded as PNG"));
    return writeWhole(file, encoded);
}

StepFailure writePdf(const std::string &file, const QImage &shown, const print::PageDescription &page,
                     const print::PdfOptions &paper)
{
    QByteArray bytes;
    try {
        const PageFonts fonts;
        bytes = print::composePdfBytes(shown, page, paper);
    } catch (const print::PrintError &error) {
        return cannotWrite(file, QString::fromUtf8(error.what()));
    }
    return writeWhole(file, bytes);
}

} // namespace terralume
