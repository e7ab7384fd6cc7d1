// F10 works the menu bar as a lone Alt does, with Qt's menu bar answering
// the keys from there.
#include "MenuBarKeys.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWindow>

using namespace terralume::ui;

namespace {

// A window shaped as the map window is: two menus, then a command on the
// bar itself, and a field that has the focus.
struct MenuWindow : QMainWindow {
    QStringList chosen;

    MenuWindow()
    {
        menuBar()->setNativeMenuBar(false);
        addMenu("File", {"Print", "Save Picture As…", "Copy"});
        addMenu("Zoom", {"x 1", "X 2", "x 3"});
        QAction *exit = menuBar()->addAction(QStringLiteral("Exit"));
        exit->setObjectName(QStringLiteral("Exit"));
        connect(exit, &QAction::triggered, this, [this] { chosen << QStringLiteral("Exit"); });
        auto *field = new QLineEdit(this);
        setCentralWidget(field);
        field->setFocus();
    }

    void addMenu(const char *title, const QList<const char *> &entries)
    {
        QMenu *menu = menuBar()->addMenu(QString::fromUtf8(title));
        menu->menuAction()->setObjectName(QString::fromUtf8(title));
        for (const char *caption : entries) {
            const QString name = QString::fromUtf8(caption);
            connect(menu->addAction(name), &QAction::triggered, this, [this, name] { chosen << name; });
        }
    }
};

// Where a key goes: to the open menu, else to the focus.
QWidget *keyTarget()
{
    if (QWidget *popup = QApplication::activePopupWidget())
        return popup;
    return QApplication::focusWidget();
}

// A step: "+Alt" / "-Alt" presses or releases a key, "repeat F10" is a key's
// press repeated while it is held, "copy -Alt" is a press or release
// delivered late to the widget that had the keys, as a screen reader's
// bridge delivers it (after the reader has seen it, not from the window
// system), anything else is a key pressed and released ("Shift+F10"). Keys
// come from the window system, with its shortcut check before each press.
void perform(const QString &step, QWidget *hadTheKeys)
{
    const auto keyOf = [](const QString &name) {
        return name == QLatin1String("Alt") ? Qt::Key_Alt : QKeySequence::fromString(name)[0].key();
    };
    if (step.startsWith(QLatin1String("copy "))) {
        const bool press = step[5] == u'+';
        const Qt::Key key = keyOf(step.mid(6));
        QKeyEvent copy(press ? QEvent::KeyPress : QEvent::KeyRelease, key,
                       press && key == Qt::Key_Alt ? Qt::AltModifier : Qt::NoModifier);
        QApplication::sendEvent(hadTheKeys, &copy);
        return;
    }
    if (step.startsWith(QLatin1String("repeat "))) {
        // What the window system sends while a key is held down.
        QKeyEvent held(QEvent::KeyPress, keyOf(step.mid(7)), Qt::NoModifier, QString(), true);
        QApplication::sendEvent(keyTarget(), &held);
        return;
    }
    // The last name is the key, any before it the modifiers held.
    QStringList names = (step.startsWith(u'+') || step.startsWith(u'-') ? step.mid(1) : step).split(u'+');
    const Qt::Key key = keyOf(names.takeLast());
    Qt::KeyboardModifiers modifiers;
    for (const QString &held : names)
        modifiers |= held == QLatin1String("Ctrl")  ? Qt::ControlModifier
                     : held == QLatin1String("Alt") ? Qt::AltModifier
                                                    : Qt::ShiftModifier;
    QWindow *window = keyTarget()->window()->windowHandle();
    if (step.startsWith(u'+'))
        QTest::keyPress(window, key, modifiers);
    else if (step.startsWith(u'-'))
        QTest::keyRelease(window, key, modifiers);
    else
        QTest::keyClick(window, key, modifiers);
}

QString activeMenu(const QMainWindow &window)
{
    const QAction *active = window.menuBar()->activeAction();
    return active ? active->objectName() : QString();
}

QString focusName()
{
    const QWidget *focus = QApplication::focusWidget();
    return focus ? QString::fromLatin1(focus->metaObject()->className()) : QString();
}

} // namespace

class MenuBarKeysTest : public QObject {
    Q_OBJECT

    MenuBarKeys keys_;

private slots:
    void initTestCase() { qApp->installEventFilter(&keys_); }

    // F10 is a lone Alt to the menu bar: it selects the first menu without
    // opening it and gives the bar the focus; again, or Alt, it leaves, and
    // the focus goes back to the field. `selected` is the menu selected on
    // the bar after each step (empty: none).
    void f10WorksTheBarAsALoneAlt_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("chosen"); // empty: nothing
        const QString bar = QStringLiteral("QMenuBar"), field = QStringLiteral("QLineEdit");
        QTest::newRow("F10") << QStringList{"F10"} << QStringList{"File"} << bar << "";
        QTest::newRow("as a lone Alt does") << QStringList{"+Alt", "-Alt"} << QStringList{"", "File"} << bar << "";
        QTest::newRow("F10 twice leaves") << QStringList{"F10", "F10"} << QStringList{"File", ""} << field << "";
        QTest::newRow("Alt after F10 leaves")
            << QStringList{"F10", "+Alt", "-Alt"} << QStringList{"File", "File", ""} << field << "";
        QTest::newRow("F10 after Alt leaves")
            << QStringList{"+Alt", "-Alt", "F10"} << QStringList{"", "File", ""} << field << "";
        QTest::newRow("F10 in an open menu leaves")
            << QStringList{"F10", "Down", "F10"} << QStringList{"File", "File", ""} << field << "";
        QTest::newRow("held, it does not leave again")
            << QStringList{"F10", "repeat F10"} << QStringList{"File", "File"} << bar << "";
        // The bridge's copies of the keys come late, and copies of keys
        // pressed before may come between Alt's press and release.
        QTest::newRow("a lone Alt, then its copies")
            << QStringList{"+Alt", "-Alt", "copy +Alt", "copy -Alt"} << QStringList{"", "File", "File", "File"} << bar
            << "";
        QTest::newRow("a lone Alt whose release comes only as a copy")
            << QStringList{"+Alt", "copy -Alt"} << QStringList{"", "File"} << bar << "";
        QTest::newRow("a copy of an earlier key between Alt's press and release")
            << QStringList{"+Alt", "copy +Escape", "copy -Escape", "-Alt"} << QStringList{"", "", "", "File"} << bar
            << "";
        QTest::newRow("Alt in an open menu closes it")
            << QStringList{"F10", "Down", "+Alt", "-Alt"} << QStringList{"File", "File", "", ""} << field << "";
        QTest::newRow("Alt with another key is no lone Alt")
            << QStringList{"+Alt", "Alt+X", "-Alt"} << QStringList{"", "", ""} << field << "";
        QTest::newRow("Shift+F10 is the context menu's") << QStringList{"Shift+F10"} << QStringList{""} << field << "";
        QTest::newRow("Ctrl+F10 is not F10") << QStringList{"Ctrl+F10"} << QStringList{""} << field << "";
        QTest::newRow("then the arrows and Enter") << QStringList{"F10", "Right", "Down", "Down", "Return"}
                                                   << QStringList{"File", "Zoom", "Zoom", "Zoom", ""} << field << "X 2";
        QTest::newRow("Enter on a command on the bar")
            << QStringList{"F10", "Left", "Return"} << QStringList{"File", "Exit", ""} << field << "Exit";
    }
    void f10WorksTheBarAsALoneAlt()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, selected);
        QFETCH(QString, focus);
        QFETCH(QString, chosen);
        MenuWindow window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QStringList seen;
        QWidget *field = QApplication::focusWidget();
        for (const QString &step : steps) {
            perform(step, field);
            seen << activeMenu(window);
        }
        QCOMPARE(seen, selected);
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        QCOMPARE(focusName(), focus);
        QCOMPARE(window.chosen, chosen.isEmpty() ? QStringList{} : QStringList{chosen});
    }
};

QTEST_MAIN(MenuBarKeysTest)
#include "MenuBarKeysTest.moc"
