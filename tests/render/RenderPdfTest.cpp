#include "RenderCli.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

int render(std::vector<std::string> args, std::string *err = nullptr)
{
    args.insert(args.begin(), "terralume-render");
    std::vector<const char *> argv;
    for (const auto &a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, errors;
    const int code = terralume::runRender(static_cast<int>(argv.size()), argv.data(), out, errors);
    if (err)
        *err = errors.str();
    return code;
}

QString pdfText(const QString &file)
{
    QProcess tool;
    tool.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
    if (!tool.waitForFinished(30000))
        return {};
    return QString::fromUtf8(tool.readAllStandardOutput());
}

TEST(RenderPdf, WritesThePrintedPageWithTitleAndFooter)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("page.pdf").toStdString();
    ASSERT_EQ(render({"--size", "Medium", "--water", "-5", "--heat", "10", "--title", "Isles", "--pdf", file}), 0);
    QFile pdf(QString::fromStdString(file));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
    const QString text = pdfText(pdf.fileName());
    EXPECT_TRUE(text.contains(QStringLiteral("Terralume - Isles"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Size - Medium, Water Level - -5, Heat Level - 10")))
        << text.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"page.pdf"});
}

TEST(RenderPdf, UntitledMapsSayUntitled)
{
    QTemporaryDir dir;
    const std::string file = dir.filePath("page.pdf").toStdString();
    ASSERT_EQ(render({"--landscape", "--paper", "Letter", "--zoom", "2", "--pdf", file}), 0);
    EXPECT_TRUE(pdfText(QString::fromStdString(file)).contains(QStringLiteral("Terralume - Untitled")));
}

// Written like every other file: through a link to its target, and readable
// as the user's file mask allows rather than private to the writer.
TEST(RenderPdf, WritesThroughALinkWithTheUsualPermissions)
{
    QTemporaryDir dir;
    const QString real = dir.filePath("real.pdf"), link = dir.filePath("link.pdf");
    QFile target(real);
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.close();
    ASSERT_TRUE(target.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    ASSERT_TRUE(QFile::link(real, link));
    ASSERT_EQ(render({"--pdf", link.toStdString()}), 0);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_TRUE(target.read(5) == "%PDF-");
    EXPECT_TRUE(target.permissions().testFlag(QFile::ReadOther));
}

TEST(RenderPdf, FailuresLeaveNothingBehind)
{
    QTemporaryDir dir;
    std::string err;
    EXPECT_EQ(render({"--paper", "A3", "--pdf", dir.filePath("a.pdf").toStdString()}, &err), 2);
    EXPECT_NE(err.find("unknown paper 'A3'"), std::string::npos) << err;
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const std::string target = dir.filePath("file").toStdString() + "/page.pdf";
    EXPECT_EQ(render({"--pdf", target}, &err), 1);
    EXPECT_NE(err.find(target), std::string::npos) << err;
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"file"});
}

} // namespace
