// What a blind person hears: the program driven from the keyboard alone on
// a real X server, with the Orca screen reader speaking through
// speech-dispatcher (speech_session.py). Each row is keys and the
// utterances they must bring, in order; every step waits for an utterance,
// never for a time.
#include "XDesktop.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// How long an utterance may take, under load.
constexpr int kPatienceMs = 30000;
const char *const kPython = "/usr/bin/python3";

// A page filled before the explorer is heard is read with the window.
// Steps: "keys:F10 Right" presses keys (one xdotool call), "type:Seven"
// types text, "hear:REGEX" waits for an utterance since those keys that
// matches in full (what one press brings may come in either order).
// `never` matches no utterance of the row.
struct Row {
    const char *name;
    QStringList steps;
    const char *never = nullptr;
};

const char *const kMap = "hear:Terralume - Untitled frame\\.";
const char *const kOpenHelp = "keys:F10 Right Down Return";
const char *const kOpenExplorer = "keys:F10 Down Return";

// Said by no row: every announcement is heard as its words alone, and
// nothing that takes the focus is a mere filler.
const char *const kNeverAnywhere = "(.*notification.*|.*filler.*)";

const Row kRows[] = {
    {"settings window: F10, the arrows, Escape",
     {"keys:F10", "hear:World\\.", "keys:Right", "hear:Help\\.", "keys:Right", "hear:World\\.", "keys:Down",
      "hear:Explore Worlds…", "keys:Escape", "hear:World\\.", "keys:Escape", "hear:Size combo box\\."}},
    {"settings window: Enter runs the entry",
     {"keys:F10", "hear:World\\.", "keys:Left", "hear:Help\\.", "keys:Down", "hear:Help\\.", "keys:Down",
      "hear:About\\.", "keys:Return", "hear:Terralume dialog.*"}},
    {"settings window: a lone Alt, each time",
     {"keys:Alt_L", "hear:World\\.", "keys:Escape", "hear:Size combo box\\.", "keys:Alt_L", "hear:World\\.",
      "keys:Right", "hear:Help\\."}},
    {"map window: the menus, the checked zoom",
     {"keys:Return", kMap, "keys:F10", "hear:File\\.", "keys:Right", "hear:Zoom\\.", "keys:Down",
      "hear:x 1 checked\\.", "keys:Down", "hear:X 2\\.", "keys:Return",
      "hear:Terralume - Untitled: Small world, seed 42861244, .*zoom x2.*", "keys:F10", "hear:File\\.",
      "keys:Left", "hear:Exit\\.", "keys:Escape", "hear:Terralume - Untitled: .*", "keys:Alt_L", "hear:File\\."}},
    {"size: its value on focus and at each change",
     {"keys:Down", "hear:Medium\\.", "keys:Down", "hear:Large\\.", "keys:Tab", "hear:Random Seed text\\.",
      "keys:shift+Tab", "hear:Size combo box\\.", "hear:Large\\."}},
    {"seed: heard whole",
     {"keys:Tab", "hear:Random Seed text\\.", "hear:42861244 selected\\."},
     "4286124( selected)?\\.?"},
    {"water: each move with its band, and where am I",
     {"keys:Tab Tab Tab", "hear:Water Level slider\\.", "hear:Normal, 0\\.", "keys:Prior", "hear:Normal, −5\\.",
      "keys:Prior Prior", "hear:Dry, −15\\.", "keys:Up", "hear:Dry, −16\\.", "keys:KP_Enter",
      "hear:Water Level slider\\.", "hear:Dry, −16\\."},
     // No percent, and no bare number of the slider's range (the seed's
     // eight digits are heard on the way to it).
     "(.*percent.*|-?[0-9]{1,2}\\.?)"},
    {"map: heard as a world, as an image",
     {"keys:Return", "hear:Terralume - Untitled: Small world, seed 42861244, water Normal, 0, heat Normal, 0, "
                     "land [0-9]+\\.[0-9]{2} %, [0-9]+ landmass(es)?, largest [0-9]+\\.[0-9]{2} %, "
                     "highest point [0-9]+, zoom x1 image\\."}},
    {"explorer: the page's outcome and its count",
     {kOpenExplorer, "hear:(.* )?Found 12 worlds\\.", "hear:List with 12 items\\."},
     "List with (?!12 )[0-9]+ items?\\."},
    {"explorer: a stopped search, and Use This World unavailable",
     {kOpenExplorer, "hear:(.* )?Found 12 worlds\\.", "keys:Tab Tab Tab", "hear:Land at least check box not checked\\.",
      "keys:space", "hear:checked", "keys:Tab", "hear:Land at least, percent [0-9]+ % spin button\\.", "keys:ctrl+a",
      "type:100", "keys:Return Tab Tab Tab", "hear:Stop push button\\.", "keys:space",
      "hear:Stopped after [0-9,]+ worlds, found 0\\.", "keys:Tab", "hear:Cancel push button\\."},
     "Use This World push button\\."},
    {"explorer: its sliders and size list, heard as in the settings window",
     {kOpenExplorer, "hear:(.* )?Found 12 worlds\\.", "keys:shift+Tab", "hear:Heat slider\\.", "keys:Up",
      "hear:Normal, −1\\.", "keys:shift+Tab shift+Tab", "hear:Size combo box\\.", "hear:Small\\.", "keys:Down",
      "hear:Medium\\.", "hear:(.* )?Found 12 worlds\\."}},
    {"help: line by line, Escape closes",
     {kOpenHelp, "hear:Terralume Help frame\\.", "hear:Terralume Help .*Terralume draws imaginary worlds: .*", "keys:Down",
      "hear:Terralume draws imaginary worlds: [^.]*", "keys:Down", "hear:and mountains\\. .*", "keys:Up",
      "hear:Terralume draws imaginary worlds: [^.]*", "keys:Escape", "hear:Size combo box\\."}},
    {"help: links on Tab, the new page on Enter",
     {kOpenHelp, "hear:Terralume Help frame\\.", "hear:Terralume Help .*Terralume draws imaginary worlds: .*", "keys:Tab",
      "hear:The settings, link\\.", "keys:Tab",
      "hear:How seeds work, link\\.", "keys:Return", "hear:How seeds work\\.", "keys:Down",
      "hear:Terralume's worlds look random, .*"}},
    {"about: every line",
     {"keys:F10 Right Down Down Return",
      "hear:Terralume dialog The Random World Generator Terralume version [0-9.]+ Web site \\S+\\.",
      "hear:OK push button\\."}},
    {"heat: each move with its band",
     {"keys:Tab Tab Tab Tab", "hear:Heat slider\\.", "keys:Up", "hear:Normal, −1\\.", "keys:Next Next",
      "hear:Normal, 9\\.", "keys:Next", "hear:Cold, 14\\."}},
};

// Orca with real speech on the test's private session bus.
class SpeechSession {
public:
    ~SpeechSession() { stop(); }

    // Empty once Orca speaks; else what is missing ("missing: …") or why
    // it failed.
    QString start(const QProcessEnvironment &environment)
    {
        process_.setProcessEnvironment(environment);
        process_.start(QStringLiteral("dbus-run-session"),
                       {QStringLiteral("--"), QString::fromLatin1(kPython),
                        QStringLiteral(TERRALUME_SPEECH_SESSION)});
        const QDeadlineTimer deadline(kPatienceMs * 2);
        while (!ready_) {
            if (!missing_.isEmpty())
                return QStringLiteral("missing: ") + missing_;
            if (!failed_.isEmpty())
                return failed_;
            if (!readSome(deadline))
                return QStringLiteral("Orca did not start: ") + log_;
        }
        return QString();
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        // At the end of its input the session ends Orca and the speech
        // service.
        process_.closeWriteChannel();
        if (!process_.waitForFinished(20000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    QString session() const { return session_; }
    qsizetype heardSoFar() const { return heard_.size(); }
    const QStringList &heard() const { return heard_; }

    // The index of the first utterance from `from` on that matches; -1 at
    // the deadline.
    qsizetype waitFor(const QRegularExpression &pattern, qsizetype from)
    {
        const QDeadlineTimer deadline(kPatienceMs);
        for (qsizetype i = from;; ++i) {
            while (i >= heard_.size())
                if (!readSome(deadline))
                    return -1;
            if (pattern.match(heard_[i]).hasMatch())
                return i;
        }
    }

private:
    bool readSome(const QDeadlineTimer &deadline)
    {
        while (!process_.canReadLine()) {
            if (process_.state() == QProcess::NotRunning || deadline.hasExpired())
                return false;
            process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
        while (process_.canReadLine()) {
            const QString line = QString::fromUtf8(process_.readLine()).chopped(1);
            if (line.startsWith(QLatin1String("heard: ")))
                heard_ << line.mid(7);
            else if (line.startsWith(QLatin1String("session: ")))
                session_ = line.mid(9);
            else if (line == QLatin1String("ready"))
                ready_ = true;
            else if (line.startsWith(QLatin1String("missing: ")))
                missing_ = line.mid(9);
            else if (line.startsWith(QLatin1String("failed: ")))
                failed_ = line.mid(8);
            else
                log_ += line + u'\n';
        }
        return true;
    }

    QProcess process_;
    QString session_;
    QString missing_;
    QString failed_;
    QString log_;
    QStringList heard_;
    bool ready_ = false;
};

} // namespace

class DesktopSpeechTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;
    SpeechSession speech_;
    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<QProcess> program_;
    qsizetype rowStart_ = 0;

    QString heardInRow() const { return speech_.heard().mid(rowStart_).join(QStringLiteral(" | ")); }

    void press(const QString &keys) const
    {
        desktop_.run(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} +
                                                    keys.split(u' ', Qt::SkipEmptyParts));
    }

    // Started with the settings window heard, its size list focused.
    QString startProgram()
    {
        home_ = std::make_unique<QTemporaryDir>();
        QProcessEnvironment env = desktop_.environment();
        env.insert(QStringLiteral("HOME"), home_->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_->filePath(QStringLiteral(".config")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), speech_.session());
        env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
        env.insert(QStringLiteral("CUPS_SERVER"), home_->filePath(QStringLiteral("no-scheduler")));
        rowStart_ = speech_.heardSoFar();
        program_ = std::make_unique<QProcess>();
        program_->setProcessEnvironment(env);
        program_->start(QStringLiteral(TERRALUME_PROGRAM), QStringList());
        if (!program_->waitForStarted(10000))
            return QStringLiteral("the program did not start");
        // The window itself is not always named: a window that becomes
        // active as the one before goes may be heard by its focus alone.
        const qsizetype list =
            speech_.waitFor(QRegularExpression(QStringLiteral("^Size combo box\\.$")), rowStart_);
        if (list < 0 || speech_.waitFor(QRegularExpression(QStringLiteral("^Small\\.$")), list) < 0)
            return QStringLiteral("the settings window was not heard: ") + heardInRow();
        return QString();
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty())
            QSKIP("dbus-run-session is not installed");
        QVERIFY2(desktop_.start(), "no X server with a window manager could be started");
        const QString started = speech_.start(desktop_.environment());
        if (started.startsWith(QLatin1String("missing: ")))
            QSKIP(qPrintable(started));
        QVERIFY2(started.isEmpty(), qPrintable(started));
    }

    void cleanup()
    {
        if (program_) {
            program_->kill();
            program_->waitForFinished(10000);
            program_.reset();
        }
        home_.reset();
    }

    void cleanupTestCase()
    {
        cleanup();
        speech_.stop();
        desktop_.stop();
    }

    void keysBringTheirUtterances_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < std::size(kRows); ++i)
            QTest::newRow(kRows[i].name) << static_cast<int>(i);
    }
    void keysBringTheirUtterances()
    {
        QFETCH(int, row);
        const Row &expected = kRows[row];
        const QString started = startProgram();
        QVERIFY2(started.isEmpty(), qPrintable(started));
        qsizetype from = speech_.heardSoFar();
        for (const QString &step : expected.steps) {
            const QString what = step.section(u':', 0, 0), argument = step.section(u':', 1);
            if (what == QLatin1String("keys")) {
                from = speech_.heardSoFar();
                press(argument);
            } else if (what == QLatin1String("type")) {
                from = speech_.heardSoFar();
                desktop_.run(QStringLiteral("xdotool"), {QStringLiteral("type"), QStringLiteral("--clearmodifiers"),
                                                         QStringLiteral("--"), argument});
            } else {
                QCOMPARE(what, QStringLiteral("hear"));
                const qsizetype at =
                    speech_.waitFor(QRegularExpression(QRegularExpression::anchoredPattern(argument)), from);
                QVERIFY2(at >= 0, qPrintable(QStringLiteral("\"%1\" not heard; heard: %2").arg(argument, heardInRow())));
            }
        }
        for (const char *pattern : {kNeverAnywhere, expected.never}) {
            if (!pattern)
                continue;
            const QRegularExpression never(QRegularExpression::anchoredPattern(QString::fromUtf8(pattern)));
            for (const QString &said : speech_.heard().mid(rowStart_))
                QVERIFY2(!never.match(said).hasMatch(), qPrintable(QStringLiteral("heard \"%1\"; heard: %2")
                                                                       .arg(said, heardInRow())));
        }
    }
};

QTEST_GUILESS_MAIN(DesktopSpeechTest)
#include "DesktopSpeechTest.moc"
