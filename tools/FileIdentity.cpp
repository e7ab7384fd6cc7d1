#include "FileIdentity.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include "OutputFile.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#else
#include <sys/stat.h>

#include <filesystem>
#endif

namespace terralume {

std::string fileIdentity(const std::string &name)
{
#ifdef Q_OS_WIN
    // Windows has no inode numbers in stat(); the names are compared instead,
    // made absolute, with links resolved, and without regard to case.
    const QFileInfo info(decodeFileName(QByteArray::fromStdString(name)));
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return "file " + canonical.toCaseFolded().toStdString();
    if (QFileInfo(info.absolutePath()).isDir())
        return "entry " + info.absoluteFilePath().toCaseFolded().toStdString();
    return "name " + name;
#else
    namespace fs = std::filesystem;
    const auto of = [](const struct stat &info) {
        return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    };
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0)
        return "file " + of(info);
    const fs::path path(name);
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (::stat(folder.c_str(), &info) == 0)
        return "entry " + of(info) + "/" + path.filename().string();
    return "name " + name;
#endif
}

} // namespace terralume
