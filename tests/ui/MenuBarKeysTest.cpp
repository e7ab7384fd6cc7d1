// The menu bar from the keyboard: F10 or a lone Alt selects the first menu,
// and from there the arrows, Enter and Escape work the menus.
#include "MenuBarKeys.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

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

// Steps: "+Alt" / "-Alt" press and release a key, "click" presses the mouse
// on the window, anything else is a key pressed and released ("Shift+F10").
void perform(QMainWindow &window, const QStringList &steps)
{
    for (const QString &step : steps) {
        if (step == QLatin1String("click")) {
            QTest::mouseClick(window.centralWidget(), Qt::LeftButton);
            continue;
        }
        // The last name is the key, any before it the modifiers held.
        QStringList names = (step.startsWith(u'+') || step.startsWith(u'-') ? step.mid(1) : step).split(u'+');
        const QString last = names.takeLast();
        Qt::KeyboardModifiers modifiers;
        for (const QString &held : names)
            modifiers |= held == QLatin1String("Ctrl")  ? Qt::ControlModifier
                         : held == QLatin1String("Alt") ? Qt::AltModifier
                                                        : Qt::ShiftModifier;
        const Qt::Key key = last == QLatin1String("Alt")    ? Qt::Key_Alt
                            : last == QLatin1String("Ctrl") ? Qt::Key_Control
                                                            : QKeySequence::fromString(last)[0].key();
        if (step.startsWith(u'+'))
            QTest::keyPress(keyTarget(), key, modifiers);
        else if (step.startsWith(u'-'))
            QTest::keyRelease(keyTarget(), key, modifiers);
        else
            QTest::keyClick(keyTarget(), key, modifiers);
    }
}

QString activeMenu(const QMainWindow &window)
{
    const QAction *active = window.menuBar()->activeAction();
    return active ? active->objectName() : QString();
}

} // namespace

class MenuBarKeysTest : public QObject {
    Q_OBJECT

    MenuBarKeys keys_;

private slots:
    void initTestCase() { qApp->installEventFilter(&keys_); }

    void selectingTheFirstMenu_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("active"); // empty: none
        QTest::newRow("F10") << QStringList{"F10"} << "File";
        QTest::newRow("Alt pressed and released") << QStringList{"+Alt", "-Alt"} << "File";
        QTest::newRow("Alt held, repeating") << QStringList{"+Alt", "+Alt", "-Alt"} << "File";
        QTest::newRow("a key between is a chord") << QStringList{"+Alt", "+X", "-X", "-Alt"} << "";
        QTest::newRow("a click between") << QStringList{"+Alt", "click", "-Alt"} << "";
        QTest::newRow("Ctrl with Alt") << QStringList{"+Ctrl", "+Ctrl+Alt", "-Ctrl+Alt", "-Ctrl"} << "";
        QTest::newRow("Shift+F10 is the context menu's") << QStringList{"Shift+F10"} << "";
        QTest::newRow("F10 twice leaves") << QStringList{"F10", "F10"} << "";
        QTest::newRow("Alt after F10 leaves") << QStringList{"F10", "+Alt", "-Alt"} << "";
        QTest::newRow("a chord does not spoil the next Alt")
            << QStringList{"+Alt", "+X", "-X", "-Alt", "+Alt", "-Alt"} << "File";
    }
    void selectingTheFirstMenu()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, active);
        MenuWindow window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        perform(window, steps);
        QCOMPARE(activeMenu(window), active);
        // Selected, the menu is open; left, no menu stays open.
        QCOMPARE(QApplication::activePopupWidget() != nullptr, !active.isEmpty());
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
    }

    void workingTheMenusFromTheFirst_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("chosen"); // empty: nothing
        QTest::newRow("down to the second entry") << QStringList{"F10", "Down", "Down", "Return"} << "Save Picture As…";
        QTest::newRow("after a lone Alt") << QStringList{"+Alt", "-Alt", "Down", "Return"} << "Print";
        QTest::newRow("right to the next menu") << QStringList{"F10", "Right", "Down", "Return"} << "X 2";
        QTest::newRow("Escape twice leaves") << QStringList{"F10", "Down", "Escape", "Escape", "Return"} << "";
        QTest::newRow("a command on the bar") << QStringList{"F10", "Right", "Right", "Return"} << "Exit";
        QTest::newRow("Space chooses it too") << QStringList{"F10", "Right", "Right", "Space"} << "Exit";
        QTest::newRow("back left from the command")
            << QStringList{"F10", "Right", "Right", "Left", "Down", "Return"} << "X 2";
        QTest::newRow("round from the command to the first menu")
            << QStringList{"F10", "Right", "Right", "Right", "Return"} << "Print";
        QTest::newRow("Escape leaves the command") << QStringList{"F10", "Right", "Right", "Escape", "Return"} << "";
    }
    void workingTheMenusFromTheFirst()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, chosen);
        MenuWindow window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        perform(window, steps);
        QCOMPARE(window.chosen, chosen.isEmpty() ? QStringList{} : QStringList{chosen});
        QCOMPARE(QApplication::activePopupWidget(), nullptr);
        QCOMPARE(activeMenu(window), QString());
    }
};

QTEST_MAIN(MenuBarKeysTest)
#include "MenuBarKeysTest.moc"
