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

inline std::string quoted(const QString &name) { return "\"" + name.toStdString() + "\""; }

} // namespace terralume::print
