// The program as a screen reader hears it, on a real X server: the program
// runs on a private D-Bus session with an accessibility bus, and
// screen_reader.py reads its windows through that bus with pyatspi, as a
// screen reader does. Keys go in with xdotool, and every step waits for what
// the reader hears: a window, a focus, a name.
#include "TerralumeVersion.h"
#include "XDesktop.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

namespace {

// How long anything may take to be heard, under load.
constexpr int kPatienceMs = 30000;

// One control of a window as it is read out.
struct Spoken {
    const char *role;
    const char *name;
    const char *labelledBy;
    const char *description;
};

// The settings window from top to bottom, which is also its Tab order. Qt
// names a list on Linux by its current item, as other toolkits do there; its
// caption comes through the labelled-by relation, and its item is its
// description too, which a screen reader says as it comes to the list.
const Spoken kSettingsControls[] = {
    {"combo box", "Small", "Size", "Small"},
    {"text", "Random Seed", "Random Seed", ""},
    {"push button", "New random seed", "", "New random seed"},
    {"slider", "Water Level", "Water Level", "Normal, 0"},
    {"slider", "Heat", "Heat", "Normal, 0"},
    {"text", "Title", "Title", ""},
    {"push button", "Generate", "", ""},
    {"push button", "Exit", "", ""},
};

// What is heard at the end of a row: an object of this role whose name
// matches (a window: the active one), with this description when one is
// given. `closeKey`, when given, is then pressed and the object must go.
// The role "program" stands for the program itself, which must end.
struct Heard {
    const char *role;
    const char *name;
    const char *description = nullptr;
    const char *closeKey = nullptr;
};

// A row of keyboard use from the settings window as the program starts.
// Steps: "menu:Zoom>X 2" chooses from the menus from F10 on, listening to
// each menu and entry the arrows reach; "tab:Generate" presses Tab until
// that control has the focus; "keys:Return" presses keys (a space between
// two), "type:12a" types text; "hear:image: zoom x2$" waits for an object of
// that role whose name matches on the active window; "selected:File" waits
// for that menu to be selected on the menu bar.
struct Row {
    const char *name;
    QStringList steps;
    Heard heard;
};

const char *const kGenerate = "tab:Generate";
const char *const kPress = "keys:Return";

// A slider's description follows its position with the caption there.
const Row kSliderPositions[] = {
    {"water towards dry", {"tab:Water Level", "keys:Prior Prior Prior"}, {"slider", "^Water Level$", "Dry, −15"}},
    {"heat towards cold",
     {"tab:Heat", "keys:Next Next Next Next Next Next Next"},
     {"slider", "^Heat$", "Very Cold, 35"}},
    {"heat one step hot", {"tab:Heat", "keys:Up"}, {"slider", "^Heat$", "Normal, −1"}},
};

// The map's picture, and the view around it that has the focus, are images
// named for the world shown, its figures and its zoom.
const Row kPictureNames[] = {
    {"as the map opens",
     {kGenerate, kPress},
     {"image", "^Terralume - Untitled: Small world, seed 42861244, water Normal, 0, heat Normal, 0, land 25.31 %, 3 "
               "landmasses, largest 23.88 %, highest point 197, zoom x1$"}},
    {"settings chosen from the keyboard",
     {"keys:Down Down", "tab:Water Level", "keys:Prior Prior Prior", "tab:Title", "type:Seven Seas", kGenerate, kPress},
     {"image", "^Terralume - Seven Seas: Large world, seed 42861244, water Dry, −15, heat Normal, 0, land 49.76 %, 52 "
               "landmasses, largest 46.77 %, highest point 255, zoom x1$"}},
    {"after a zoom",
     {"tab:Heat", "keys:Next Next", kGenerate, kPress, "menu:Zoom>x 4"},
     {"image", "^Terralume - Untitled: Small world, seed 42861244, water Normal, 0, heat Normal, 10, land 25.31 %, 3 "
               "landmasses, largest 23.88 %, highest point 197, zoom x4$"}},
};

// Every command is reached from the keyboard alone; a box closes with
// Escape. Menus added later are rows here.
const Row kCommands[] = {
    {"Generate", {kGenerate, kPress}, {"frame", "^Terralume - Untitled$"}},
    {"Enter anywhere generates", {"tab:Title", kPress}, {"frame", "^Terralume - Untitled$"}},
    {"new random seed", {"tab:New random seed", "keys:space"}, {"image", ", seed (?!42861244,)[0-9]{1,8}, "}},
    // The explorer's worlds are read by their seed and figures.
    {"World > Explore Worlds",
     {"menu:World>Explore Worlds…",
      "hear:list item:^Seed [0-9]{1,8}: land [0-9]+\\.[0-9]{2} %, [0-9]+ landmass(es)?, largest [0-9]+\\.[0-9]{2} %, "
      "highest point [0-9]+$"},
     {"dialog", "^Explore Worlds$", nullptr, "Escape"}},
    {"explorer: a filter, then Enter takes a world",
     {"menu:World>Explore Worlds…", "tab:Land at least", "keys:space", "tab:Land at least, percent", kPress,
      "tab:Worlds", "hear:list item:^Seed ", kPress, kGenerate, kPress},
     {"image", ", seed (?!42861244,)[0-9]{1,8}, "}},
    {"Help > Help", {"menu:Help>Help"}, {"frame", "^Terralume Help$"}},
    {"Help > About", {"menu:Help>About"}, {"dialog", "^Terralume$", nullptr, "Escape"}},
    {"Exit", {"tab:Exit", kPress}, {"program", ""}},
    {"map: File > Print",
     {kGenerate, kPress, "menu:File>Print"},
     {"label", "^The print service is not running, so nothing was printed\\.$", nullptr, "Escape"}},
    {"map: File > Save Picture As",
     {kGenerate, kPress, "menu:File>Save Picture As…"},
     {"dialog", "^Save Picture As$", nullptr, "Escape"}},
    {"map: File > Save Page As PDF",
     {kGenerate, kPress, "menu:File>Save Page As PDF…"},
     {"dialog", "^Save Page As PDF$", nullptr, "Escape"}},
    {"map: every zoom",
     {kGenerate, kPress, "menu:Zoom>X 2", "hear:image: zoom x2$", "menu:Zoom>x 3", "hear:image: zoom x3$",
      "menu:Zoom>x 4", "hear:image: zoom x4$", "menu:Zoom>x 5", "hear:image: zoom x5$", "menu:Zoom>x 1"},
     {"image", " zoom x1$"}},
    {"map: Exit", {kGenerate, kPress, "menu:Exit"}, {"frame", "^Terralume$"}},
};

// The menus from the keyboard are Qt's menu bar's own: F10 selects the
// first menu and gives the bar the focus, which the reader
// follows; the arrows go through the menus and their entries; Escape, or
// F10 again, leaves, and the focus goes back where it was. Heard then: the
// menu selected on the bar and the entry selected in its open menu (empty:
// none), and whether the bar has the focus.
struct MenuState {
    const char *name;
    QStringList steps;
    const char *menu;
    const char *entry;
    bool barFocused;
};

const char *const kMapShown = "hear:image: zoom x1$";

const MenuState kMenuKeys[] = {
    {"settings: F10", {"keys:F10"}, "World", "", true},
    {"settings: Right to the next menu", {"keys:F10 Right"}, "Help", "", true},
    {"settings: Left round to the last", {"keys:F10 Left"}, "Help", "", true},
    {"settings: Down opens at the first entry", {"keys:F10 Right Down"}, "Help", "Help", true},
    {"settings: Escape leaves", {"keys:F10", "selected:World", "keys:Escape"}, "", "", false},
    {"settings: F10 again leaves", {"keys:F10", "selected:World", "keys:F10"}, "", "", false},
    {"settings: F10 in an open menu leaves", {"keys:F10 Down", "selected:World", "keys:F10"}, "", "", false},
    {"map: F10", {kGenerate, kPress, kMapShown, "keys:F10"}, "File", "", true},
    {"map: Right to the next menu", {kGenerate, kPress, kMapShown, "keys:F10 Right"}, "Zoom", "", true},
    {"map: Left round to Exit", {kGenerate, kPress, kMapShown, "keys:F10 Left"}, "Exit", "", true},
    {"map: Down opens at the first entry", {kGenerate, kPress, kMapShown, "keys:F10 Right Down"}, "Zoom", "x 1", true},
    {"map: Escape leaves", {kGenerate, kPress, kMapShown, "keys:F10", "selected:File", "keys:Escape"}, "", "", false},
};

// Enter on an entry reached so runs it, a command on the bar too.
const Row kMenuEnter[] = {
    {"settings: an entry", {"keys:F10 Down Return"}, {"dialog", "^Explore Worlds$", nullptr, "Escape"}},
    {"settings: an entry of the next menu",
     {"keys:F10", "selected:World", "keys:Right Down Down Return"},
     {"dialog", "^Terralume$", nullptr, "Escape"}},
    {"map: an entry", {kGenerate, kPress, kMapShown, "keys:F10 Right Down Down Return"}, {"image", " zoom x2$"}},
    {"map: Exit on the bar closes the map",
     {kGenerate, kPress, kMapShown, "keys:F10 Right Right Return"},
     {"frame", "^Terralume$"}},
};

// A window read from start to end: every object on it that a screen reader
// says, in order; `text` is a pattern for the text of an object with text
// of its own beyond its name.
struct Line {
    const char *role;
    const char *name;
    const char *text = nullptr;
};
struct Reading {
    const char *name;
    QStringList steps;
    const char *windowRole;
    const char *windowName;
    QList<Line> lines;
};

const Reading kReadings[] = {
    {"error box",
     {"tab:Random Seed", "type:12a", kPress},
     "alert",
     "Terralume",
     {{"image", ""}, {"label", "'12a' is not a valid integer value."}, {"push button", "OK"}}},
    {"about window",
     {"menu:Help>About"},
     "dialog",
     "Terralume",
     {{"image", "Terralume"},
      {"label", "The Random World Generator"},
      {"label", "Terralume version " TERRALUME_VERSION},
      {"label", "Web site https://terralume.example.org"},
      {"push button", "OK"}}},
    // The contents page from its heading to the end of its last section.
    {"help",
     {"menu:Help>Help"},
     "frame",
     "Terralume Help",
     {{"label", "", "^Terralume Help\\n.*\\nLicence\\n.*Independent JPEG Group\\.\\s*$"},
      {"push button", "Contents"},
      {"push button", "Back"},
      {"push button", "Forward"},
      {"push button", "Close"}}},
};

// Objects that only hold others; a screen reader passes over them.
bool isContainer(const QString &role)
{
    static const QStringList containers{QStringLiteral("filler"), QStringLiteral("panel"), QStringLiteral("scroll bar"),
                                        QStringLiteral("menu bar")};
    return containers.contains(role);
}

bool has(const QJsonObject &node, const char *state)
{
    return node[QLatin1String("states")].toArray().contains(QLatin1String(state));
}
QString str(const QJsonObject &node, const char *key) { return node[QLatin1String(key)].toString(); }
QJsonArray childrenOf(const QJsonObject &node) { return node[QLatin1String("children")].toArray(); }

// Every object under `node` (itself included) that `take` accepts, in
// reading order; `inside` says whether to look under one that is taken.
QList<QJsonObject> collect(const QJsonObject &node, const std::function<bool(const QJsonObject &)> &take,
                           bool inside = true)
{
    QList<QJsonObject> found;
    const bool taken = take(node);
    if (taken)
        found.append(node);
    if (!taken || inside)
        for (const QJsonValue child : childrenOf(node))
            found += collect(child.toObject(), take, inside);
    return found;
}

QString readOut(const QJsonObject &node)
{
    QString line = str(node, "role") + QStringLiteral(" \"") + str(node, "name") + u'"';
    const QStringList labels = node[QLatin1String("labelledBy")].toVariant().toStringList();
    if (!labels.isEmpty())
        line += QStringLiteral(" labelled by \"%1\"").arg(labels.join(QStringLiteral("\", \"")));
    if (!str(node, "description").isEmpty())
        line += QStringLiteral(", description \"%1\"").arg(str(node, "description"));
    return line;
}

// The reader on its own session bus, which ends with it.
class ScreenReader {
public:
    // A Python that has pyatspi: Debian's, which may not be the first on
    // the path.
    static QString python()
    {
        for (const QString &candidate :
             {QStandardPaths::findExecutable(QStringLiteral("python3")),
              QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")})}) {
            if (candidate.isEmpty())
                continue;
            // Looked up, not imported.
            QProcess probe;
            probe.start(candidate, {QStringLiteral("-c"),
                                    QStringLiteral("import importlib.util, sys; "
                                                   "sys.exit(importlib.util.find_spec('pyatspi') is None)")});
            if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0)
                return candidate;
        }
        return QString();
    }

    ~ScreenReader() { stop(); }

    // Empty once it is ready; else what it lacks ("missing: …") or why it
    // failed.
    QString start(const QString &python, const QProcessEnvironment &environment)
    {
        process_.setProcessEnvironment(environment);
        process_.start(QStringLiteral("dbus-run-session"),
                       {QStringLiteral("--"), python, QStringLiteral(TERRALUME_SCREEN_READER)});
        const std::optional<QJsonObject> ready = answer(QDeadlineTimer(kPatienceMs));
        if (!ready)
            return QStringLiteral("the screen reader did not start: ") + log_;
        if (ready->contains(QLatin1String("missing")))
            return QStringLiteral("missing: ") + str(*ready, "missing");
        session_ = str(*ready, "session");
        return QString();
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        // At the end of its input the reader ends, and the session with it.
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    QString session() const { return session_; }
    QString log() const { return log_; }

    std::optional<QJsonObject> ask(const QJsonObject &request)
    {
        process_.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
        return answer(QDeadlineTimer(kPatienceMs));
    }

private:
    // The next line of the reader's own; the services the bus starts write
    // to the same output.
    std::optional<QJsonObject> answer(QDeadlineTimer deadline)
    {
        static const QByteArray kMark = "reader: ";
        while (true) {
            while (process_.canReadLine()) {
                const QByteArray line = process_.readLine();
                const QJsonDocument reply =
                    line.startsWith(kMark) ? QJsonDocument::fromJson(line.mid(kMark.size())) : QJsonDocument();
                if (reply.isObject())
                    return reply.object();
                log_ += QString::fromUtf8(line);
            }
            if (process_.state() == QProcess::NotRunning || deadline.hasExpired())
                return std::nullopt;
            process_.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        }
    }

    QProcess process_;
    QString session_;
    QString log_;
};

} // namespace

class DesktopAccessibilityTest : public QObject {
    Q_OBJECT

    XDesktop desktop_;
    ScreenReader reader_;
    std::unique_ptr<QTemporaryDir> home_;
    std::unique_ptr<QProcess> program_;
    // What the last look heard, for the message of a failure.
    QString lastHeard_;
    QJsonArray events_;

    // The program's windows on screen now, as the reader hears them.
    QList<QJsonObject> windows()
    {
        const std::optional<QJsonObject> reply = reader_.ask({{QStringLiteral("tree"), program_->processId()}});
        QList<QJsonObject> found;
        if (!reply) {
            lastHeard_ = QStringLiteral("the screen reader did not answer: ") + reader_.log();
            return found;
        }
        for (const QJsonValue window : (*reply)[QLatin1String("windows")].toArray())
            found.append(window.toObject());
        QStringList heard;
        for (const QJsonObject &window : found) {
            heard << readOut(window) + (has(window, "active") ? QStringLiteral(" (active)") : QString());
            for (const QJsonObject &focused : collect(window, [](const QJsonObject &n) { return has(n, "focused"); }))
                heard << QStringLiteral("  focused: ") + readOut(focused);
        }
        lastHeard_ = str(*reply, "error") + heard.join(u'\n');
        return found;
    }

    std::optional<QJsonObject> activeWindow()
    {
        for (const QJsonObject &window : windows())
            if (has(window, "active"))
                return window;
        return std::nullopt;
    }

    // The controls of a window, each taken whole (a list with its items is
    // one control).
    static QList<QJsonObject> controls(const QJsonObject &window)
    {
        return collect(
            window, [](const QJsonObject &n) { return has(n, "focusable"); }, false);
    }

    static std::optional<QJsonObject> focusedControl(const QJsonObject &window)
    {
        for (const QJsonObject &control : controls(window))
            if (has(control, "focused"))
                return control;
        return std::nullopt;
    }
    std::optional<QJsonObject> focusedControl()
    {
        const std::optional<QJsonObject> window = activeWindow();
        return window ? focusedControl(*window) : std::nullopt;
    }

    // Polls what is heard until `heard` holds; false at the deadline.
    bool waitFor(const std::function<bool()> &heard)
    {
        const QDeadlineTimer deadline(kPatienceMs);
        while (!heard()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    QString failure(const QString &what) const { return what + QStringLiteral("; heard:\n") + lastHeard_; }

    void press(const QString &keys)
    {
        desktop_.run(QStringLiteral("xdotool"), QStringList{QStringLiteral("key"), QStringLiteral("--clearmodifiers")} +
                                                    keys.split(u' ', Qt::SkipEmptyParts));
    }

    // The menu bar's entry, or the open menu's entry, that has the focus.
    std::optional<QString> focusedMenuEntry(bool inMenu)
    {
        const std::optional<QJsonObject> window = activeWindow();
        if (!window)
            return std::nullopt;
        for (const QJsonObject &bar :
             collect(*window, [](const QJsonObject &n) { return str(n, "role") == QLatin1String("menu bar"); }))
            for (const QJsonValue entry : childrenOf(bar)) {
                const QJsonObject item = entry.toObject();
                if (!has(item, "focused"))
                    continue;
                if (!inMenu)
                    return str(item, "name");
                for (const QJsonObject &chosen : collect(item, [&](const QJsonObject &n) {
                         return &n != &item && str(n, "role") == QLatin1String("menu item") && has(n, "focused");
                     }))
                    return str(chosen, "name");
                return QString();
            }
        return std::nullopt;
    }

    // Arrows until the reader hears `wanted` focused; each press waits for
    // the focus to move.
    bool arrowTo(const QString &wanted, const QString &arrow, bool inMenu)
    {
        std::optional<QString> at;
        for (int presses = 0; presses < 12; ++presses) {
            if (!waitFor([&] {
                    const std::optional<QString> now = focusedMenuEntry(inMenu);
                    return now && (!at || *now != *at);
                }))
                return false;
            at = focusedMenuEntry(inMenu);
            if (at && *at == wanted)
                return true;
            press(arrow);
        }
        return false;
    }

    QString perform(const QString &step)
    {
        const QString what = step.section(u':', 0, 0);
        const QString argument = step.section(u':', 1);
        if (what == QLatin1String("keys")) {
            press(argument);
        } else if (what == QLatin1String("type")) {
            desktop_.run(QStringLiteral("xdotool"),
                         {QStringLiteral("type"), QStringLiteral("--clearmodifiers"), QStringLiteral("--"), argument});
        } else if (what == QLatin1String("tab")) {
            // Once the window holding the control is the active one, Tab
            // until the reader hears it focused; each press waits for the
            // focus to move.
            std::optional<QJsonObject> at;
            if (!waitFor([&] {
                    const std::optional<QJsonObject> window = activeWindow();
                    if (!window)
                        return false;
                    for (const QJsonObject &control : controls(*window))
                        if (str(control, "name") == argument)
                            at = focusedControl(*window);
                    return at.has_value();
                }))
                return failure(QStringLiteral("no window with %1 became active").arg(argument));
            for (int presses = 0; str(*at, "name") != argument; ++presses) {
                if (presses > 12)
                    return failure(QStringLiteral("Tab does not reach %1").arg(argument));
                const QString before = readOut(*at);
                press(QStringLiteral("Tab"));
                if (!waitFor([&] { return (at = focusedControl()) && readOut(*at) != before; }))
                    return failure(QStringLiteral("Tab moved the focus nowhere on the way to %1").arg(argument));
            }
        } else if (what == QLatin1String("selected")) {
            if (!waitFor([&] { return focusedMenuEntry(false) == argument; }))
                return failure(QStringLiteral("the menu %1 was not selected").arg(argument));
        } else if (what == QLatin1String("hear")) {
            const QByteArray role = step.section(u':', 1, 1).toUtf8(), name = step.section(u':', 2).toUtf8();
            if (!waitFor([&] { return !matching({role.constData(), name.constData()}).isEmpty(); }))
                return failure(QStringLiteral("nothing heard like that"));
        } else if (what == QLatin1String("menu")) {
            const QStringList path = argument.split(u'>');
            // Once the window with that menu is the active one.
            if (!waitFor([&] {
                    const std::optional<QJsonObject> window = activeWindow();
                    return window && !collect(*window, [&](const QJsonObject &n) {
                                          return str(n, "role") == QLatin1String("menu item") &&
                                                 str(n, "name") == path.first();
                                      }).isEmpty();
                }))
                return failure(QStringLiteral("no window with the menu %1 became active").arg(path.first()));
            press(QStringLiteral("F10"));
            if (!arrowTo(path.first(), QStringLiteral("Right"), false))
                return failure(QStringLiteral("the arrows do not reach the menu %1").arg(path.first()));
            if (path.size() > 1 && !arrowTo(path.last(), QStringLiteral("Down"), true))
                return failure(QStringLiteral("the arrows do not reach %1").arg(argument));
            press(QStringLiteral("Return"));
        } else {
            return QStringLiteral("unknown step ") + step;
        }
        return QString();
    }

    // The objects heard now that are `heard`; a window must be the active one.
    QList<QJsonObject> matching(const Heard &heard)
    {
        const QRegularExpression name(QString::fromUtf8(heard.name));
        QList<QJsonObject> found;
        for (const QJsonObject &window : windows()) {
            if (!has(window, "active"))
                continue;
            found += collect(window, [&](const QJsonObject &n) {
                return str(n, "role") == QLatin1String(heard.role) && name.match(str(n, "name")).hasMatch() &&
                       (!heard.description || str(n, "description") == QString::fromUtf8(heard.description));
            });
        }
        return found;
    }

    // The description changes the bus has announced for `object`.
    QStringList announcedDescriptions(const QString &object)
    {
        if (const std::optional<QJsonObject> reply = reader_.ask({{QStringLiteral("events"), true}}))
            for (const QJsonValue event : (*reply)[QLatin1String("events")].toArray())
                events_.append(event);
        QStringList descriptions;
        for (const QJsonValue event : std::as_const(events_))
            if (str(event.toObject(), "type") == QLatin1String("object:property-change:accessible-description") &&
                str(event.toObject(), "name") == object)
                descriptions << str(event.toObject(), "description");
        return descriptions;
    }

    QString performAll(const QStringList &steps)
    {
        for (const QString &step : steps)
            if (const QString failed = perform(step); !failed.isEmpty())
                return QStringLiteral("at \"%1\": %2").arg(step, failed);
        return QString();
    }

    QString startProgram()
    {
        home_ = std::make_unique<QTemporaryDir>();
        QProcessEnvironment env = desktop_.environment();
        env.insert(QStringLiteral("HOME"), home_->path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home_->filePath(QStringLiteral(".config")));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), reader_.session());
        env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        // No scheduler answers there: Print says that no printer is set up.
        env.insert(QStringLiteral("CUPS_SERVER"), home_->filePath(QStringLiteral("no-scheduler")));
        env.remove(QStringLiteral("PRINTER"));
        env.remove(QStringLiteral("LPDEST"));
        program_ = std::make_unique<QProcess>();
        program_->setProcessEnvironment(env);
        program_->start(QStringLiteral(TERRALUME_PROGRAM), QStringList());
        if (!program_->waitForStarted(10000))
            return QStringLiteral("the program did not start");
        // Keys go to the active window: the settings window, once the
        // window manager has made it so and the reader hears it. Asked
        // again while it is not: a window of the program before may still
        // be listed for a moment.
        if (!waitFor([&] {
                const std::optional<QJsonObject> control = focusedControl();
                if (control && str(*control, "role") == QLatin1String(kSettingsControls[0].role))
                    return true;
                if (const QString settings = desktop_.windowTitled(QStringLiteral("^Terralume$")); !settings.isEmpty())
                    desktop_.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), settings});
                return false;
            }))
            return failure(QStringLiteral("the settings window was not heard with its first control focused"));
        announcedDescriptions(QString());
        events_ = {};
        return QString();
    }

    void checkRow(const Row &row)
    {
        const QString started = startProgram();
        QVERIFY2(started.isEmpty(), qPrintable(started));
        const QString failed = performAll(row.steps);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const Heard &heard = row.heard;
        if (QLatin1String(heard.role) == QLatin1String("program")) {
            QVERIFY2(program_->waitForFinished(kPatienceMs), "the program did not end");
            QCOMPARE(program_->exitStatus(), QProcess::NormalExit);
            QCOMPARE(program_->exitCode(), 0);
            return;
        }
        QVERIFY2(waitFor([&] { return !matching(heard).isEmpty(); }),
                 qPrintable(failure(QStringLiteral("no %1 named like %2").arg(heard.role, heard.name))));
        if (heard.closeKey) {
            press(QString::fromLatin1(heard.closeKey));
            QVERIFY2(waitFor([&] { return matching(heard).isEmpty() && activeWindow(); }),
                     qPrintable(failure(QStringLiteral("%1 did not close it").arg(heard.closeKey))));
        }
    }

    template <std::size_t N> static void addRows(const Row (&rows)[N])
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < N; ++i)
            QTest::newRow(rows[i].name) << static_cast<int>(i);
    }

private slots:
    void initTestCase()
    {
        if (const QString missing = XDesktop::missingTool(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(missing)));
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty())
            QSKIP("dbus-run-session is not installed");
        const QString python = ScreenReader::python();
        if (python.isEmpty())
            QSKIP("no Python with pyatspi is installed");
        QVERIFY2(desktop_.start(), "no X server with a window manager could be started");
        QProcessEnvironment env = desktop_.environment();
        // The reader's own accessibility bus, not one of the desktop the
        // test runs on.
        env.remove(QStringLiteral("AT_SPI_BUS_ADDRESS"));
        const QString started = reader_.start(python, env);
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
        reader_.stop();
        desktop_.stop();
    }

    void settingsWindowReadsItsControls()
    {
        const QString started = startProgram();
        QVERIFY2(started.isEmpty(), qPrintable(started));
        QStringList expected;
        for (const Spoken &control : kSettingsControls) {
            QJsonObject row{{QStringLiteral("role"), QString::fromUtf8(control.role)},
                            {QStringLiteral("name"), QString::fromUtf8(control.name)},
                            {QStringLiteral("description"), QString::fromUtf8(control.description)}};
            if (*control.labelledBy)
                row[QStringLiteral("labelledBy")] = QJsonArray{QString::fromUtf8(control.labelledBy)};
            expected << readOut(row);
        }
        const std::optional<QJsonObject> window = activeWindow();
        QVERIFY2(window, qPrintable(failure(QStringLiteral("no active window"))));
        QStringList heard;
        for (const QJsonObject &control : controls(*window))
            heard << readOut(control);
        QCOMPARE(heard, expected);
    }

    void tabVisitsEveryControlInOrder()
    {
        const QString started = startProgram();
        QVERIFY2(started.isEmpty(), qPrintable(started));
        // Round the window and back to the first.
        const std::size_t count = std::size(kSettingsControls);
        for (std::size_t i = 1; i <= count; ++i) {
            const Spoken &next = kSettingsControls[i % count];
            press(QStringLiteral("Tab"));
            QVERIFY2(waitFor([&] {
                         const std::optional<QJsonObject> control = focusedControl();
                         return control && str(*control, "role") == QLatin1String(next.role) &&
                                str(*control, "name") == QString::fromUtf8(next.name);
                     }),
                     qPrintable(failure(QStringLiteral("Tab did not reach %1").arg(QString::fromUtf8(next.name)))));
        }
    }

    void sliderDescriptionFollowsPosition_data() { addRows(kSliderPositions); }
    void sliderDescriptionFollowsPosition()
    {
        QFETCH(int, row);
        const Row &slider = kSliderPositions[row];
        checkRow(slider);
        if (QTest::currentTestFailed())
            return;
        // Heard as it changed, not only when asked.
        const QString object = QString::fromUtf8(slider.heard.name).remove(u'^').remove(u'$');
        const QString description = QString::fromUtf8(slider.heard.description);
        QVERIFY2(waitFor([&] { return announcedDescriptions(object).contains(description); }),
                 qPrintable(announcedDescriptions(object).join(QStringLiteral(" | "))));
    }

    void mapPictureIsNamed_data() { addRows(kPictureNames); }
    void mapPictureIsNamed()
    {
        QFETCH(int, row);
        checkRow(kPictureNames[row]);
    }

    void keyboardReachesEveryCommand_data() { addRows(kCommands); }
    void keyboardReachesEveryCommand()
    {
        QFETCH(int, row);
        checkRow(kCommands[row]);
    }

    void menuKeysWorkTheBar_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < std::size(kMenuKeys); ++i)
            QTest::newRow(kMenuKeys[i].name) << static_cast<int>(i);
    }
    void menuKeysWorkTheBar()
    {
        QFETCH(int, row);
        const MenuState &expected = kMenuKeys[row];
        const QString started = startProgram();
        QVERIFY2(started.isEmpty(), qPrintable(started));
        // Left, the menus give the focus back to the control that had it
        // before they were entered.
        std::optional<QJsonObject> before;
        for (const QString &step : expected.steps) {
            if (step.startsWith(QLatin1String("keys:")) && focusedMenuEntry(false).value_or(QString()).isEmpty())
                QVERIFY2(waitFor([&] { return (before = focusedControl()).has_value(); }),
                         qPrintable(failure(QStringLiteral("no control has the focus"))));
            const QString failed = perform(step);
            QVERIFY2(failed.isEmpty(), qPrintable(QStringLiteral("at \"%1\": %2").arg(step, failed)));
        }
        const auto heard = [&] {
            const std::optional<QJsonObject> window = activeWindow();
            if (!window || focusedMenuEntry(false).value_or(QString()) != QString::fromUtf8(expected.menu) ||
                focusedMenuEntry(true).value_or(QString()) != QString::fromUtf8(expected.entry))
                return false;
            const bool barFocused = !collect(*window, [](const QJsonObject &n) {
                                         return str(n, "role") == QLatin1String("menu bar") && has(n, "focused");
                                     }).isEmpty();
            const std::optional<QJsonObject> control = focusedControl(*window);
            return expected.barFocused ? barFocused && !control
                                       : !barFocused && control && readOut(*control) == readOut(*before);
        };
        QVERIFY2(waitFor(heard), qPrintable(failure(QStringLiteral("after the keys"))));
    }

    void menuEnterRunsTheSelectedCommand_data() { addRows(kMenuEnter); }
    void menuEnterRunsTheSelectedCommand()
    {
        QFETCH(int, row);
        checkRow(kMenuEnter[row]);
    }

    void windowsAreReadInFull_data()
    {
        QTest::addColumn<int>("row");
        for (std::size_t i = 0; i < std::size(kReadings); ++i)
            QTest::newRow(kReadings[i].name) << static_cast<int>(i);
    }
    void windowsAreReadInFull()
    {
        QFETCH(int, row);
        const Reading &reading = kReadings[row];
        const QString started = startProgram();
        QVERIFY2(started.isEmpty(), qPrintable(started));
        const QString failed = performAll(reading.steps);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        std::optional<QJsonObject> window;
        QVERIFY2(waitFor([&] {
                     window = activeWindow();
                     return window && str(*window, "role") == QLatin1String(reading.windowRole) &&
                            str(*window, "name") == QLatin1String(reading.windowName);
                 }),
                 qPrintable(failure(QStringLiteral("the window was not heard"))));

        const QList<QJsonObject> said = collect(*window, [&](const QJsonObject &n) {
            return &n != &*window && !isContainer(str(n, "role")) && has(n, "showing");
        });
        QStringList heard, expected;
        for (const QJsonObject &object : said)
            heard << str(object, "role") + QStringLiteral(": ") + str(object, "name");
        for (const Line &line : reading.lines)
            expected << QString::fromUtf8(line.role) + QStringLiteral(": ") + QString::fromUtf8(line.name);
        QCOMPARE(heard, expected);
        for (qsizetype i = 0; i < said.size(); ++i) {
            if (!reading.lines[i].text)
                continue;
            const QRegularExpression text(QString::fromUtf8(reading.lines[i].text),
                                          QRegularExpression::DotMatchesEverythingOption);
            QVERIFY2(text.match(str(said[i], "text")).hasMatch(), qPrintable(str(said[i], "text")));
        }
    }
};

QTEST_GUILESS_MAIN(DesktopAccessibilityTest)
#include "DesktopAccessibilityTest.moc"
