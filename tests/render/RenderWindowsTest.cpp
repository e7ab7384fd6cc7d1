// The renderer program as Windows runs it: names beyond the ANSI code page
// reach the disk as typed; with no inode numbers to tell files apart, two
// outputs in one file are still refused, and only then, in a file system
// whose names ignore case; help and version are the bytes Linux prints.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int code = -1; // -1: crashed, or still running after the bound
    QByteArray out, err;
};

// The renderer lies beside the test, where Windows finds a program by name.
Run render(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(TERRALUME_RENDER_PROGRAM), arguments);
    // The wait is for the program's end; the bound only stops a hang.
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QByteArray contents(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

} // namespace

class RenderWindowsTest : public QObject {
    Q_OBJECT

private slots:
    void writesUnicodeNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Latin-1") << QStringLiteral("caf\u00e9.pgm");
        QTest::newRow("CJK") << QStringLiteral("\u4e16\u754c.pgm");
    }
    void writesUnicodeNames()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const Run run = render({QStringLiteral("--size"), QStringLiteral("Small"), QStringLiteral("--heights"),
                                dir.filePath(name)});
        QCOMPARE(run.code, 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{name});
        QVERIFY(contents(dir.filePath(name)).startsWith("P5\n"));
    }

    void refusesOneFileTwice_data()
    {
        QTest::addColumn<QString>("png");
        QTest::addColumn<QString>("heights");
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("refused");
        QTest::newRow("two new files") << "a.png" << "b.pgm" << false << false;
        QTest::newRow("two existing files") << "a.png" << "b.pgm" << true << false;
        QTest::newRow("one new file, other case") << "a.png" << "A.PNG" << false << true;
        QTest::newRow("one existing file, other case") << "a.png" << "A.PNG" << true << true;
    }
    void refusesOneFileTwice()
    {
        QFETCH(QString, png);
        QFETCH(QString, heights);
        QFETCH(bool, existing);
        QFETCH(bool, refused);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray old = "old";
        for (const QString &name : {png, heights}) {
            QFile file(dir.filePath(name));
            QVERIFY(!existing || (file.open(QIODevice::WriteOnly) && file.write(old) == old.size()));
        }
        const QStringList before = QDir(dir.path()).entryList(QDir::Files);

        const Run run = render({QStringLiteral("--size"), QStringLiteral("Small"), QStringLiteral("--png"),
                                dir.filePath(png), QStringLiteral("--heights"), dir.filePath(heights)});
        if (refused) {
            QCOMPARE(run.code, 2);
            QVERIFY2(run.err.contains("--heights and --png name the same file"), run.err.constData());
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
            QVERIFY(!existing || contents(dir.filePath(png)) == old);
        } else {
            QCOMPARE(run.code, 0);
            QVERIFY(contents(dir.filePath(png)).startsWith("\x89PNG"));
            QVERIFY(contents(dir.filePath(heights)).startsWith("P5\n"));
        }
    }

    // Standard output in text mode would end each line with "\r\n".
    void printsLinuxBytes_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("help") << QStringLiteral("--help");
        QTest::newRow("version") << QStringLiteral("--version");
    }
    void printsLinuxBytes()
    {
        QFETCH(QString, option);
        const Run run = render({option});
        QCOMPARE(run.code, 0);
        QVERIFY(run.out.endsWith('\n'));
        QVERIFY2(!run.out.contains('\r'), run.out.constData());
    }
};

QTEST_GUILESS_MAIN(RenderWindowsTest)
#include "RenderWindowsTest.moc"
