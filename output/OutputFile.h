#pragma once
// Writing a result file all or nothing: the bytes go to a temporary file in
// the target's folder, which replaces the target only once every byte is on
// the disk. A replaced file keeps its permissions and, where the system lets
// the writer set them, its owner and group; a file the writer may not write
// is refused rather than replaced. Device files and pipes (/dev/stdout,
// /dev/full...) are written in place, since renaming over them would replace
// the device itself, unless the caller takes regular files only.
//
// On Linux the name is taken byte for byte as the file system sees it,
// whatever the locale; on Windows, whose names are Unicode, it is UTF-8. A link as the last part of the name is
// followed to its target, but not a link that another user planted in a shared sticky folder such as the system's
// temporary folder (the rule the kernel applies with its symlink protection, applied here whatever that setting is).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace terralume {

// What a name that is neither a folder nor a regular file may stand for.
enum class Target {
    FileOrDevice,    // a command line's output, which may be a pipe or a device
    RegularFileOnly, // what a person saves from a window
};

// On any failure the target is left as it was and `reason` says why, in the
// system's words where the system gave one ("No space left on device").
// Nothing waits for a reader: a pipe that nobody reads fails at once.
bool writeFileAtomically(const QByteArray &path, QByteArrayView bytes, QString &reason,
                         Target target = Target::FileOrDevice);

// A file name as writeFileAtomically takes it, and back.
QByteArray encodeFileName(const QString &name);
QString decodeFileName(const QByteArray &name);

} // namespace terralume
