// What a screen reader is given for the controls Qt 6.4's bridge reads
// poorly: a text field's whole line, a level slider's reading at each move,
// and the notice that says it.
#include "LevelSlider.h"
#include "LineEditAccessible.h"
#include "SpokenNotice.h"

#include <QAccessible>
#include <QLineEdit>
#include <QTest>

using namespace terralume::ui;

namespace {

// The notifications shown, by name: each showing is what a screen reader's
// bridge announces.
struct Announcements : QObject {
    QStringList said;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(watched);
                shown && shown->role() == QAccessible::Notification && !shown->state().invisible)
                said << shown->text(QAccessible::Name);
        return false;
    }
};

} // namespace

class SpokenControlsTest : public QObject {
    Q_OBJECT

    Announcements announced_;

private slots:
    void initTestCase()
    {
        installLineEditAccessible();
        qApp->installEventFilter(&announced_);
    }

    // A screen reader reads a line run by run: one run must hold all of it,
    // from wherever it is asked.
    void textFieldIsOneRun_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("heard");
        QTest::newRow("a seed, from its last digit") << "42861244" << 7 << "42861244";
        QTest::newRow("a seed, from its end") << "42861244" << 8 << "42861244";
        QTest::newRow("a title, from its start") << "Seven Seas" << 0 << "Seven Seas";
        QTest::newRow("empty") << "" << 0 << "";
    }
    void textFieldIsOneRun()
    {
        QFETCH(QString, text);
        QFETCH(int, offset);
        QFETCH(QString, heard);
        QLineEdit field(text);
        field.show();
        QAccessibleTextInterface *read = QAccessible::queryAccessibleInterface(&field)->textInterface();
        QVERIFY(read);
        int start = -2, end = -2;
        read->attributes(offset, &start, &end);
        QCOMPARE(read->text(start, end), heard);
        // The selection a field takes with the focus is read whole too.
        field.selectAll();
        read->selection(0, &start, &end);
        QCOMPARE(read->text(start, end), heard);
    }

    // Each move of a level slider is its description and is said, with
    // the caption beside the new position; it offers no bare number.
    void levelSliderSaysEachMove_data()
    {
        QTest::addColumn<QList<int>>("moves");
        QTest::addColumn<QStringList>("said");
        QTest::newRow("towards dry") << QList<int>{-5, -15} << QStringList{"Normal, −5", "Dry, −15"};
        QTest::newRow("to the bottom") << QList<int>{40} << QStringList{"Very Wet, 40"};
        QTest::newRow("no move, nothing said") << QList<int>{0} << QStringList{};
    }
    void levelSliderSaysEachMove()
    {
        QFETCH(QList<int>, moves);
        QFETCH(QStringList, said);
        QWidget window;
        auto *slider = new LevelSlider(kWaterCaptions, &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(QAccessible::queryAccessibleInterface(slider)->valueInterface(), nullptr);
        announced_.said.clear();
        for (const int position : moves)
            slider->setValue(position);
        QCOMPARE(announced_.said, said);
        QCOMPARE(slider->accessibleDescription(), said.isEmpty() ? QStringLiteral("Normal, 0") : said.last());
    }
};

QTEST_MAIN(SpokenControlsTest)
#include "SpokenControlsTest.moc"
