#pragma once
// Shared by the PDF file and the printer's job, so both carry the same page.

#include "PageComposer.h"

#include <QByteArray>
#include <QImage>
#include <QPageLayout>
#include <QString>

#include <string>

namespace terralume::print {

// The whole one-page PDF, or nothing when the page did not run to its end.
QByteArray pdfPage(const QImage &printBitmap, const PageDescription &page, const QPageLayout &layout, int dotsPerInch,
                   const QString &creator);

// Built by appending: GCC 12 at -O3 sees an overlap that is not there in
// "\"" + text + "\"" and, with warnings as errors, stops the Windows build.
inline std::string quoted(const QString &name)
{
    std::string text(1, '"');
    text.append(name.toStdString());
    text.push_back('"');
    return text;
}

} // namespace terralume::print
