#pragma once
// The renderer's files, one step each. A step makes its file whole in memory,
// then writes it all or nothing; it returns the message that says why it
// could not, or nothing once the file is written. They throw std::bad_alloc
// when the memory for the file runs out.

#include "Generator.h"
#include "MapPrinter.h"
#include "WorldRecord.h"

#include <QImage>

#include <optional>
#include <string>

namespace terralume {

using StepFailure = std::optional<std::string>;

// The height grid as a binary PGM.
StepFailure writeHeights(const std::string &file, const World &world);
// The shown 5-6-5 picture as a palette PNG that records its world.
StepFailure writePng(const std::string &file, const QImage &shown, const WorldRecord &record);
// The printed page, with the shown picture, as a PDF.
StepFailure writePdf(const std::string &file, const QImage &shown, const print::PageDescription &page,
                     const print::PdfOptions &paper);

} // namespace terralume
