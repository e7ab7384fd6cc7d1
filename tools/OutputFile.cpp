#include "OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace terralume {

namespace {

QString describe(const QString &path, const QString &reason)
{
    // A write refused by a file-size limit leaves Qt without an error text.
    const QString why = reason.isEmpty() || reason == QLatin1String("Unknown error")
                            ? QStringLiteral("the file could not be written in full")
                            : reason;
    return QStringLiteral("cannot write '%1': %2").arg(path, why);
}

bool writeInPlace(const QString &path, const std::function<bool(QIODevice &)> &write, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = describe(path, file.errorString());
        return false;
    }
    const bool written = write(file) && file.flush();
    if (!written || file.error() != QFileDevice::NoError) {
        error = describe(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

bool writeFileAtomically(const QString &path, const std::function<bool(QIODevice &)> &write, QString &error)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir())
        return writeInPlace(path, write, error);
    if (info.isDir()) {
        error = describe(path, QStringLiteral("it is a folder"));
        return false;
    }

    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        error = describe(path, file.errorString());
        return false;
    }
    if (!write(file) || file.error() != QFileDevice::NoError) {
        error = describe(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = describe(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace terralume
