#include "OutputFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <vector>
#endif

using namespace terralume;

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct Written {
    const char *name;
    const char *existing; // contents already there, or nullptr
};

class WholeFile : public testing::TestWithParam<Written> {};

// A new file and a replaced one both end up holding exactly the bytes, and
// nothing else is left in the folder.
TEST_P(WholeFile, HoldsTheBytesAndNothingIsLeftBeside)
{
    const Written t = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QString::fromUtf8(t.name));
    if (t.existing) {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(t.existing);
    }
    QString reason;
    ASSERT_TRUE(writeFileAtomically(encodeFileName(path), QByteArrayView("P5\n1 1\n255\n\x7f"), reason))
        << reason.toStdString();
    EXPECT_EQ(contentsOf(path), QByteArray("P5\n1 1\n255\n\x7f"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QString::fromUtf8(t.name)});
}

INSTANTIATE_TEST_SUITE_P(Targets, WholeFile,
                         testing::Values(Written{"map.pgm", nullptr}, Written{"map.pgm", "an older and longer map"},
                                         Written{"caf\xc3\xa9.pgm", nullptr},
                                         Written{"\xe4\xb8\x96\xe7\x95\x8c.pgm", "old"}));

// What cannot be written is left as it was, with a reason.
TEST(WholeFileRefused, AFolderOrAMissingFolderIsLeftAsItWas)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("maps")));
    for (const QString &name : {dir.filePath(QStringLiteral("maps")), dir.filePath(QStringLiteral("none/map.pgm"))}) {
        QString reason;
        EXPECT_FALSE(writeFileAtomically(encodeFileName(name), QByteArrayView("x"), reason)) << name.toStdString();
        EXPECT_FALSE(reason.isEmpty()) << name.toStdString();
    }
    EXPECT_TRUE(QDir(dir.filePath(QStringLiteral("maps"))).isEmpty());
    EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("none"))).exists());
}

#ifdef Q_OS_UNIX
struct Special {
    const char *name; // made as a pipe; a name under /dev is used as it is
    Target target;
    bool reader;        // someone holds the pipe open for reading
    const char *reason; // nullptr: written
};

class NotARegularFile : public testing::TestWithParam<Special> {};

// A pipe or a device is written in place for the command line and refused
// for a window; neither ever waits for a reader.
TEST_P(NotARegularFile, IsWrittenInPlaceOrRefusedAtOnce)
{
    const Special s = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray path = s.name;
    int reader = -1;
    if (!path.startsWith("/dev/")) {
        path = encodeFileName(dir.filePath(QString::fromUtf8(s.name)));
        ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
        if (s.reader) {
            ASSERT_GE(reader = ::open(path.constData(), O_RDONLY | O_NONBLOCK), 0);
        }
    }
    QString reason;
    const bool written = writeFileAtomically(path, QByteArrayView("a map"), reason, s.target);
    char got[16] = {};
    const ssize_t read = reader >= 0 ? ::read(reader, got, sizeof got) : -1;
    if (reader >= 0)
        ::close(reader);
    if (!s.reason) {
        EXPECT_TRUE(written) << reason.toStdString();
        if (s.reader) {
            EXPECT_EQ(QByteArray(got, int(read)), QByteArray("a map"));
        }
        return;
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(reason.toStdString(), s.reason);
    EXPECT_LE(read, 0) << "nothing reached the reader";
}

INSTANTIATE_TEST_SUITE_P(
    Names, NotARegularFile,
    testing::Values(Special{"read.pipe", Target::FileOrDevice, true, nullptr},
                    Special{"unread.pipe", Target::FileOrDevice, false, "it is a pipe that nobody is reading from"},
                    Special{"read.pipe", Target::RegularFileOnly, true, "it is a pipe, not a file"},
                    Special{"/dev/null", Target::FileOrDevice, false, nullptr},
                    Special{"/dev/null", Target::RegularFileOnly, false, "it is a device, not a file"}));

// Root's powers over files, given up while it lives: what a user who is not
// root may do. Nothing changes for a user who is not.
class AsAUser {
public:
    // `member`: also belongs to that group, and may not give files away.
    explicit AsAUser(std::optional<gid_t> member = std::nullopt)
    {
        if (member) {
            savedGroups_.resize(std::max(0, ::getgroups(0, nullptr)));
            groupsSet_ =
                ::getgroups(int(savedGroups_.size()), savedGroups_.data()) >= 0 && ::setgroups(1, &*member) == 0;
            mask_ |= (1u << CAP_CHOWN) | (1u << CAP_FOWNER);
        }
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~mask_;
        ::syscall(SYS_capset, &header_, reduced);
    }
    ~AsAUser()
    {
        ::syscall(SYS_capset, &header_, saved_);
        if (groupsSet_)
            ::setgroups(savedGroups_.size(), savedGroups_.data());
    }
    bool groupsSet() const { return groupsSet_; }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
    unsigned mask_ = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    bool groupsSet_ = false;
    std::vector<gid_t> savedGroups_;
};

enum class Writer { Root, User, GroupMember };

struct Replaced {
    const char *name;
    mode_t mode;
    bool ofAnotherUser; // owned by another user and group, which needs root
    Writer writer;
    bool written;
};

void PrintTo(const Replaced &r, std::ostream *out) { *out << r.name; }

class ReplacedFile : public testing::TestWithParam<Replaced> {};

// A replaced file keeps its permissions, and its owner and group as far as
// the writer may give them; one its owner keeps from being written is not
// replaced.
TEST_P(ReplacedFile, KeepsItsOwnerOrIsRefused)
{
    const Replaced r = GetParam();
    constexpr uid_t otherUser = 54321;
    constexpr gid_t otherGroup = 54322;
    if (r.ofAnotherUser && ::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file to another user";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray path = encodeFileName(dir.filePath(QStringLiteral("map.pgm")));
    {
        QFile old(QString::fromUtf8(path));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    ASSERT_EQ(::chmod(path.constData(), r.mode), 0);
    if (r.ofAnotherUser) {
        ASSERT_EQ(::chown(path.constData(), otherUser, otherGroup), 0);
    }
    struct stat before {};
    ASSERT_EQ(::stat(path.constData(), &before), 0);

    QString reason;
    bool written = false;
    if (r.writer == Writer::Root) {
        written = writeFileAtomically(path, QByteArrayView("new"), reason);
    } else {
        const AsAUser user(r.writer == Writer::GroupMember ? std::optional<gid_t>(otherGroup) : std::nullopt);
        if (r.writer == Writer::GroupMember && !user.groupsSet())
            GTEST_SKIP() << "the groups of this process cannot be set here";
        written = writeFileAtomically(path, QByteArrayView("new"), reason);
    }
    struct stat after {};
    ASSERT_EQ(::stat(path.constData(), &after), 0);
    // A user who may not give a file away becomes its owner.
    EXPECT_EQ(after.st_uid, r.writer == Writer::GroupMember ? ::geteuid() : before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(written, r.written) << reason.toStdString();
    EXPECT_EQ(contentsOf(QString::fromUtf8(path)), QByteArray(r.written ? "new" : "old"));
    if (!r.written) {
        EXPECT_EQ(reason.toStdString(), "Permission denied");
    }
}

INSTANTIATE_TEST_SUITE_P(Files, ReplacedFile,
                         testing::Values(Replaced{"ReadOnly", 0444, false, Writer::User, false},
                                         Replaced{"AnotherUsers", 0640, true, Writer::Root, true},
                                         Replaced{"AnotherUsersSetGroupId", 02755, true, Writer::Root, true},
                                         Replaced{"SharedWithAGroup", 0666, true, Writer::GroupMember, true}),
                         [](const testing::TestParamInfo<Replaced> &info) { return std::string(info.param.name); });
// The kernel's rule for links in shared folders: in a sticky folder anyone
// may write to, a link is followed only when it belongs to the one following
// it or to the folder's owner. "other" is a user id that is neither.
struct SharedFolderLink {
    const char *name;
    bool sticky;
    bool folderOfOther;
    bool linkOfOther;
    bool followed;
};

class LinkInSharedFolder : public testing::TestWithParam<SharedFolderLink> {};

TEST_P(LinkInSharedFolder, IsFollowedOnlyWhenTrusted)
{
    const SharedFolderLink c = GetParam();
    constexpr uid_t other = 54321;
    if ((c.folderOfOther || c.linkOfOther) && ::geteuid() != 0)
        GTEST_SKIP() << "only root can give a link or a folder to another user";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("shared")));
    const QByteArray shared = encodeFileName(dir.filePath(QStringLiteral("shared")));
    const QByteArray victim = encodeFileName(dir.filePath(QStringLiteral("victim.png")));
    const QByteArray link = shared + "/map.png";
    ASSERT_EQ(::chmod(shared.constData(), c.sticky ? 01777 : 0777), 0);
    {
        QFile old(decodeFileName(victim));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("precious");
    }
    ASSERT_EQ(::symlink(victim.constData(), link.constData()), 0);
    if (c.linkOfOther) {
        ASSERT_EQ(::lchown(link.constData(), other, other), 0);
    }
    if (c.folderOfOther) {
        ASSERT_EQ(::chown(shared.constData(), other, other), 0);
    }

    QString reason;
    const bool written = writeFileAtomically(link, QByteArrayView("a map"), reason);
    struct stat info {};
    ASSERT_EQ(::lstat(link.constData(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link itself stays";
    EXPECT_EQ(written, c.followed) << reason.toStdString();
    EXPECT_EQ(contentsOf(decodeFileName(victim)), QByteArray(c.followed ? "a map" : "precious"));
    if (!c.followed) {
        EXPECT_EQ(reason.toStdString(), "it is a link that another user made in a shared folder");
    }
    EXPECT_EQ(
        QDir(decodeFileName(shared)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
        QStringList{QStringLiteral("map.png")})
        << "no leftover next to the link";
}

INSTANTIATE_TEST_SUITE_P(
    SharedFolder, LinkInSharedFolder,
    testing::Values(SharedFolderLink{"OwnLinkInOwnStickyFolder", true, false, false, true},
                    SharedFolderLink{"OthersLinkInOwnStickyFolder", true, false, true, false},
                    SharedFolderLink{"FolderOwnersLink", true, true, true, true},
                    SharedFolderLink{"OwnLinkInOthersStickyFolder", true, true, false, true},
                    SharedFolderLink{"OthersLinkInAFolderWithoutStickyBit", false, false, true, true}),
    [](const testing::TestParamInfo<SharedFolderLink> &info) { return std::string(info.param.name); });
#endif

} // namespace
