#include "OutputFile.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

namespace terralume {

namespace {

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

const QString kIsAFolder = QStringLiteral("it is a folder");

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    // Closing can be where a delayed write fails, so it is checked.
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

bool writeAll(int fd, QByteArrayView bytes, QString &reason)
{
    const char *next = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            reason = systemReason(written < 0 ? errno : ENOSPC);
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

// Words for what a name stands for when it is not a regular file.
QString notAFile(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a pipe, not a file");
    if (S_ISSOCK(mode))
        return QStringLiteral("it is a socket, not a file");
    return QStringLiteral("it is a device, not a file");
}

bool writeInPlace(const QByteArray &path, QByteArrayView bytes, QString &reason)
{
    // Opening a pipe for writing waits for a reader unless it may not.
    Descriptor file(::open(path.constData(), O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        const int error = errno;
        struct stat what {};
        reason = error == ENXIO && ::stat(path.constData(), &what) == 0 && S_ISFIFO(what.st_mode)
                     ? QStringLiteral("it is a pipe that nobody is reading from")
                     : systemReason(error);
        return false;
    }
    // Once open, a full pipe waits for its reader as any write to it would.
    const int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        reason = systemReason(errno);
        return false;
    }
    if (!writeAll(file.get(), bytes, reason))
        return false;
    if (!file.close()) {
        reason = systemReason(errno);
        return false;
    }
    return true;
}

// Gives the new file the replaced one's owner and group. Only root may give
// a file away, and a user only a group they belong to; what the system does
// not allow keeps the writer's own, as any new file would.
bool keepOwner(int fd, const struct stat &old)
{
    if (::fchown(fd, old.st_uid, old.st_gid) == 0)
        return true;
    // EINVAL: an owner this user namespace cannot name.
    if (errno != EPERM && errno != EINVAL)
        return false;
    return ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0 || errno == EPERM || errno == EINVAL;
}

// Whether the kernel's symlink protection lets this process follow `link`
// in `folder`: a sticky, world-writable folder is shared, and a link there
// counts only when it is the follower's own or the folder owner's.
bool mayFollow(const struct stat &folder, const struct stat &link)
{
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// The file that a write to `path` lands on, following the links of its last
// part one by one. The folders on the way are left to the kernel, which
// applies the same protection to them.
std::optional<QByteArray> resolveTarget(QByteArray path, QString &reason)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat link {};
        if (::lstat(path.constData(), &link) != 0) {
            if (errno == ENOENT)
                return path;
            reason = systemReason(errno);
            return std::nullopt;
        }
        if (!S_ISLNK(link.st_mode))
            return path;
        const QByteArray folder = folderOf(path);
        struct stat shared {};
        if (::stat(folder.constData(), &shared) != 0) {
            reason = systemReason(errno);
            return std::nullopt;
        }
        if (!mayFollow(shared, link)) {
            reason = QStringLiteral("it is a link that another user made in a shared folder");
            return std::nullopt;
        }
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.constData(), target.data(), static_cast<size_t>(target.size()));
        if (length < 0 || length >= target.size()) {
            reason = systemReason(length < 0 ? errno : ENAMETOOLONG);
            return std::nullopt;
        }
        target.truncate(length);
        path = target.startsWith('/') ? target : folder + '/' + target;
    }
    reason = systemReason(ELOOP);
    return std::nullopt;
}

} // namespace

QByteArray encodeFileName(const QString &name) { return QFile::encodeName(name); }

QString decodeFileName(const QByteArray &name) { return QFile::decodeName(name); }

bool writeFileAtomically(const QByteArray &path, QByteArrayView bytes, QString &reason, Target kind)
{
    if (path.isEmpty()) {
        reason = systemReason(ENOENT);
        return false;
    }
    struct stat existing {};
    if (::stat(path.constData(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            reason = kIsAFolder;
            return false;
        }
        if (!S_ISREG(existing.st_mode)) {
            if (kind == Target::RegularFileOnly) {
                reason = notAFile(existing.st_mode);
                return false;
            }
            return writeInPlace(path, bytes, reason);
        }
    }

    const std::optional<QByteArray> target = resolveTarget(path, reason);
    if (!target)
        return false;
    const QByteArray name = nameOf(*target);
    if (name.isEmpty()) {
        reason = kIsAFolder;
        return false;
    }
    Descriptor folder(::open(folderOf(*target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        reason = systemReason(errno);
        return false;
    }
    // A file that is replaced keeps its permissions and owner; a new one
    // gets the user's usual ones.
    struct stat old {};
    const bool replacing =
        ::fstatat(folder.get(), name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    // The rename needs only the folder's permission; the file's own says
    // whether its owner lets it be changed.
    if (replacing && ::faccessat(folder.get(), name.constData(), W_OK, AT_EACCESS) != 0) {
        reason = systemReason(errno);
        return false;
    }

    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = QByteArrayLiteral(".terralume-") +
                    QByteArray::number(QRandomGenerator::global()->generate64(), 36) + QByteArrayLiteral(".part");
        fd = ::openat(folder.get(), temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
                      replacing ? S_IRUSR | S_IWUSR : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        reason = systemReason(errno);
        return false;
    }
    Descriptor file(fd);
    const auto fail = [&](int error) {
        if (error != 0)
            reason = systemReason(error);
        ::unlinkat(folder.get(), temporary.constData(), 0);
        return false;
    };
    // The owner first: a change of owner clears the set-id bits.
    if (replacing && (!keepOwner(file.get(), old) || ::fchmod(file.get(), old.st_mode & 07777) != 0))
        return fail(errno);
    if (!writeAll(file.get(), bytes, reason))
        return fail(0);
    if (::fsync(file.get()) != 0 || !file.close())
        return fail(errno);
    if (::renameat(folder.get(), temporary.constData(), folder.get(), name.constData()) != 0)
        return fail(errno);
    return true;
}

} // namespace terralume
