#pragma once
// Writing a result file all or nothing: the bytes go to a temporary file in
// the same folder, which replaces the target only when everything was
// written. Device files (/dev/stdout, /dev/full...) are written in place,
// since renaming over them would replace the device itself.

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

namespace terralume {

// `write` fills the device and returns false on failure. On any failure the
// target is left as it was and `error` says why, naming the file.
bool writeFileAtomically(const QString &path, const std::function<bool(QIODevice &)> &write, QString &error);

} // namespace terralume
