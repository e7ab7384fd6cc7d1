#include "GuardPlatform.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace terralume::guard {

namespace {

QString systemReason() { return QString::fromLocal8Bit(std::strerror(errno)); }

QString waylandDisplay()
{
    const QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    // A bare name is looked up in the runtime folder, so the full path of
    // the same socket there is the same display.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo socket(display);
    if (socket.isAbsolute() && !runtime.isEmpty() && QDir::cleanPath(socket.absolutePath()) == QDir::cleanPath(runtime))
        return socket.fileName();
    return display;
}

QString x11Display()
{
    QString display = qEnvironmentVariable("DISPLAY");
    // ":0" and ":0.1" are two screens of one display.
    const int colon = display.lastIndexOf(QLatin1Char(':'));
    const int dot = display.lastIndexOf(QLatin1Char('.'));
    if (colon >= 0 && dot > colon)
        display.truncate(dot);
    // ":71", "unix:71" and ":071" all reach display 71 through its local
    // socket. A host name, even "localhost", means TCP, which can lead to
    // another server (a forwarded display, say), so it stays in the name.
    static const QRegularExpression local(QStringLiteral("^(?:unix)?:(\\d+)$"));
    const QRegularExpressionMatch match = local.match(display);
    bool ok = false;
    const uint number = match.hasMatch() ? match.captured(1).toUInt(&ok) : 0;
    return ok ? QLatin1Char(':') + QString::number(number) : display;
}

// One instance per user and display: the display name becomes part of the
// lock and socket names, reduced to characters that are safe in a file name.
QString displayKey()
{
    QString kind = QStringLiteral("wayland");
    QString display = waylandDisplay();
    if (display.isEmpty()) {
        kind = QStringLiteral("x11");
        display = x11Display();
    }
    if (display.isEmpty())
        return QStringLiteral("console");
    QString key = kind + QLatin1Char('-');
    for (const QChar c : display)
        key += (c.isLetterOrNumber() && c.unicode() < 0x80) ? c : QLatin1Char('_');
    // Socket paths are short on Unix; a long display path is hashed instead.
    if (key.size() > 40)
        key = kind + QLatin1Char('-') +
              QString::fromLatin1(
                  QCryptographicHash::hash(display.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    return key;
}

// Where the socket is bound and reached. A socket address holds a path of
// about a hundred bytes (Qt keeps two of sun_path for itself), which a deep
// runtime folder leaves no room in. The folder is then named through the
// descriptor this process holds on it: the socket stays in the private
// folder, as private as before, whatever the folder's length.
QString channelAddress(const QString &folder, int folderFd, const QString &name)
{
    const QString direct = QDir(folder).filePath(name);
    constexpr qsizetype room = qsizetype(sizeof(sockaddr_un::sun_path)) - 2;
    if (QFile::encodeName(direct).size() <= room)
        return direct;
    const QString viaDescriptor = QStringLiteral("/proc/self/fd/%1").arg(folderFd);
    if (folderFd < 0 || !QFileInfo(viaDescriptor).isDir())
        return QString();
    const QString address = viaDescriptor + QLatin1Char('/') + name;
    return QFile::encodeName(address).size() <= room ? address : QString();
}

struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int fd;
};

// Makes `folder` this user's private folder, or says why it is not one.
QString makePrivate(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("cannot create %1: %2").arg(folder, systemReason());
    // lstat, not stat: a symbolic link planted in our place is not our folder.
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return QStringLiteral("cannot inspect %1: %2").arg(folder, systemReason());
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("%1 is not a folder").arg(folder);
    if (info.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user").arg(folder);
    if ((info.st_mode & 077) != 0)
        return QStringLiteral("%1 is open to other users (mode %2)")
            .arg(folder)
            .arg(info.st_mode & 0777, 3, 8, QLatin1Char('0'));
    return QString();
}

} // namespace

bool find(Place &place, QString *why)
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    place.folder = QDir(base).filePath(QStringLiteral("terralume"));
    *why = base.isEmpty() ? QStringLiteral("no per-user runtime folder is available") : makePrivate(place.folder);
    if (!why->isEmpty())
        return false;
    const QString stem = QStringLiteral("Terralume-") + displayKey();
    const QByteArray folder = QFile::encodeName(place.folder);
#ifdef O_PATH
    constexpr int access = O_PATH;
#else
    constexpr int access = O_RDONLY;
#endif
    auto descriptor =
        std::make_shared<Descriptor>(::open(folder.constData(), access | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    place.lockName = QDir(place.folder).filePath(stem + QStringLiteral(".lock"));
    place.address = channelAddress(place.folder, descriptor->fd, stem + QStringLiteral(".socket"));
    place.noAddress = QStringLiteral("the running instance cannot be reached: the path of %1 is too long for a "
                                     "local socket")
                          .arg(place.folder);
    place.held = std::move(descriptor);
    return true;
}

// A lock that the kernel keeps for this process and drops when it ends,
// however it ends. What the file holds never counts, so nothing a dead start
// left behind (an empty or half-written file, the number of a process long
// gone or now another program's) can keep the next start out. The file is
// never removed: two starts exclude each other only by locking one file.
Lock take(const Place &place, std::shared_ptr<void> &holder, QString *why)
{
    const QByteArray name = QFile::encodeName(place.lockName);
    // Non-blocking, so that a pipe left in its place cannot hang the start.
    constexpr int flags = O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    auto file = std::make_shared<Descriptor>(::open(name.constData(), flags, 0600));
    // Only this user writes in the private folder, so a file that cannot
    // be read is ours: make it readable again. Removing it instead would
    // let a start that opened it a moment ago lock a file nobody else sees.
    if (file->fd < 0 && errno == EACCES && ::chmod(name.constData(), 0600) == 0)
        file->fd = ::open(name.constData(), flags, 0600);
    struct stat info {};
    if (file->fd < 0) {
        *why = systemReason();
    } else if (::fstat(file->fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = QStringLiteral("%1 is not a plain file").arg(place.lockName);
    } else if (::flock(file->fd, LOCK_EX | LOCK_NB) == 0) {
        holder = std::move(file);
        return Lock::Taken;
    } else if (errno == EWOULDBLOCK) {
        return Lock::HeldElsewhere;
    } else {
        *why = systemReason();
    }
    return Lock::Failed;
}

// A folder where the socket belongs: it can neither be replaced by the
// running instance's socket nor reached by a later start, and the system's
// reasons for either ("Unknown error 21", a refused connection) do not say
// what is in the way.
QString blocked(const Place &place)
{
    const QString path = place.lockName.chopped(5) + QStringLiteral(".socket");
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return QStringLiteral("the running instance cannot be reached: %1 is a folder, not the program's socket")
            .arg(path);
    return QString();
}

// The running instance may come forward by itself.
qint64 letComeForward(QLocalSocket &) { return 0; }

} // namespace terralume::guard
