#pragma once
// The headless renderer's whole command: parse the arguments, generate the
// map through the same core the windows use, write the requested files.
// Returns the process exit code: 0 done, 1 a file could not be written,
// 2 a bad command line (unknown option, bad value, rejected seed).

#include "Generator.h"
#include "MapPrinter.h"
#include "WorldRecord.h"

#include <QImage>
#include <QtGlobal>

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace terralume {

int runRender(int argc, const char *const *argv, std::ostream &out, std::ostream &err);

// The steps of a run, one file each. A step makes its file whole in memory,
// then writes it all or nothing; it returns the message that says why it
// could not, or nothing once the file is written. They throw std::bad_alloc
// when the memory for the file runs out.
using StepFailure = std::optional<std::string>;

// The height grid as a binary PGM.
StepFailure writeHeights(const std::string &file, const World &world);
// The shown 5-6-5 picture as an 8-bit RGB PNG that records its world.
StepFailure writePng(const std::string &file, const QImage &shown, const WorldRecord &record);
// The printed page, with the shown picture, as a PDF.
StepFailure writePdf(const std::string &file, const QImage &shown, const print::PageDescription &page,
                     const print::PdfOptions &paper);

// `text` as it may be shown on a terminal: control characters and bytes that
// are not UTF-8 become \xNN, everything else is kept.
std::string printableText(std::string_view text);

// While alive, Qt's warnings and lesser messages are dropped: the picture and
// image code report failures (a null image when memory runs out) that the
// renderer then states once in its own words. Critical and fatal messages
// still reach the handler that was installed before.
class QuietQtWarnings {
public:
    QuietQtWarnings();
    ~QuietQtWarnings();
    QuietQtWarnings(const QuietQtWarnings &) = delete;
    QuietQtWarnings &operator=(const QuietQtWarnings &) = delete;

private:
    static void quiet(QtMsgType type, const QMessageLogContext &context, const QString &text);
    static QtMessageHandler forwardTo;
    QtMessageHandler previous_;
};

} // namespace terralume
