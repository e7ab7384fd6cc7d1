#include "OutputFile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace terralume {

// Windows names are Unicode; UTF-8 carries them whole, where the ANSI code
// page would lose every character it lacks.
QByteArray encodeFileName(const QString &name) { return name.toUtf8(); }

QString decodeFileName(const QByteArray &name) { return QString::fromUtf8(name); }

// QSaveFile writes beside the target, flushes the file to the disk and only
// then moves it over the target, which is what the all-or-nothing promise
// needs; it never falls back to writing the target in place.
// A read-only file is refused by the move over it, as the all-or-nothing
// promise needs; owners are left to the folder's inherited permissions.
bool writeFileAtomically(const QByteArray &path, QByteArrayView bytes, QString &reason, Target kind)
{
    const QString name = decodeFileName(path);
    if (name.isEmpty()) {
        reason = QStringLiteral("No such file or directory");
        return false;
    }
    const QFileInfo existing(name);
    if (existing.isDir()) {
        reason = QStringLiteral("it is a folder");
        return false;
    }
    if (kind == Target::RegularFileOnly && existing.exists() && !existing.isFile()) {
        reason = QStringLiteral("it is a device, not a file");
        return false;
    }
    QSaveFile file(name);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
        return false;
    }
    if (file.write(bytes.data(), bytes.size()) != bytes.size()) {
        reason = file.errorString();
        file.cancelWriting();
        file.commit(); // only removes the partial file
        return false;
    }
    if (!file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace terralume
