#include "OutputFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace terralume;

namespace {

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

struct Target {
    const char *name;
    const char *existing; // contents already there, or nullptr
};

class WholeFile : public testing::TestWithParam<Target> {};

// A new file and a replaced one both end up holding exactly the bytes, and
// nothing else is left in the folder.
TEST_P(WholeFile, HoldsTheBytesAndNothingIsLeftBeside)
{
    const Target t = GetParam();
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
                         testing::Values(Target{"map.pgm", nullptr}, Target{"map.pgm", "an older and longer map"},
                                         Target{"caf\xc3\xa9.pgm", nullptr},
                                         Target{"\xe4\xb8\x96\xe7\x95\x8c.pgm", "old"}));

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

} // namespace
