// No control cuts its text in the faces a desktop really has, at the common
// screen resolutions. Each face and resolution runs in a child process of
// its own, because a screen's resolution is fixed when the application
// starts; the child measures every text against the room its control's
// style gives it.

#include "SeededRandom.h"
#include "TWorld1.h"
#include "TWorldSplash.h"
#include "TerralumeApplication.h"

#include <QComboBox>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cmath>

using namespace terralume;
using namespace terralume::ui;

namespace {

const char *const kFaceVariable = "TERRALUME_TEST_FACE";
const char *const kDpiVariable = "TERRALUME_TEST_DPI";

QString describe(const QWidget *control, const QString &text, QSize needed, QSize room)
{
    return QStringLiteral("%1 \"%2\": needs %3 x %4, has %5 x %6")
        .arg(control->objectName(), text.left(40))
        .arg(needed.width())
        .arg(needed.height())
        .arg(room.width())
        .arg(room.height());
}

void check(QStringList &misfits, const QWidget *control, const QString &text, QSize needed, QRect room)
{
    if (needed.width() > room.width() || needed.height() > room.height())
        misfits << describe(control, text, needed, room.size());
}

QSize oneLine(const QWidget *control, const QString &text)
{
    const QFontMetrics metrics(control->font());
    return {metrics.horizontalAdvance(text), metrics.height()};
}

// Every text under `root` against the room its control gives it, and every
// control inside its window.
QStringList misfitsIn(const QWidget *root)
{
    QStringList misfits;
    for (const QLabel *label : root->findChildren<QLabel *>()) {
        if (label->text().isEmpty() || !label->isVisibleTo(root))
            continue;
        const QRect room = label->contentsRect();
        const QSize needed =
            label->wordWrap() ? QFontMetrics(label->font()).boundingRect(room, Qt::TextWordWrap, label->text()).size()
                              : oneLine(label, label->text());
        check(misfits, label, label->text(), needed, room);
    }
    for (const QComboBox *list : root->findChildren<QComboBox *>()) {
        QStyleOptionComboBox option;
        option.initFrom(list);
        option.editable = list->isEditable();
        option.frame = list->hasFrame();
        option.subControls = QStyle::SC_All;
        const QRect field =
            list->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, list);
        for (int i = 0; i < list->count(); ++i)
            check(misfits, list, list->itemText(i), oneLine(list, list->itemText(i)), field);
    }
    for (const QPushButton *button : root->findChildren<QPushButton *>()) {
        if (!button->isVisibleTo(root))
            continue;
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        if (button->isDefault())
            option.features |= QStyleOptionButton::DefaultButton;
        const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        check(misfits, button, button->text(), oneLine(button, button->text()), room);
    }
    for (const QLineEdit *edit : root->findChildren<QLineEdit *>()) {
        if (edit->text().isEmpty() || !edit->isVisibleTo(root))
            continue;
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        // Qt keeps two pixels free on either side of the text.
        const QRect room = edit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                               .marginsRemoved(edit->textMargins())
                               .adjusted(2, 0, -2, 0);
        check(misfits, edit, edit->text(), oneLine(edit, edit->text()), room);
    }
    const QRect window = root->rect();
    for (const QWidget *control : root->findChildren<QWidget *>()) {
        if (control->isWindow() || !control->isVisibleTo(root))
            continue;
        const QRect placed(control->mapTo(root, QPoint(0, 0)), control->size());
        if (!window.contains(placed))
            misfits << QStringLiteral("%1 runs out of its window").arg(control->objectName());
    }
    return misfits;
}

} // namespace

// Runs in the child, on the screen and in the face the parent asked for.
class TextMeasure : public QObject {
    Q_OBJECT
private slots:
    void screenAndFaceAreTheAskedOnes()
    {
        QCOMPARE(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInch()),
                 qEnvironmentVariableIntValue(kDpiVariable));
        QCOMPARE(QFontInfo(QApplication::font()).family(), qEnvironmentVariable(kFaceVariable));
    }

    void settingsWindowTextsFit()
    {
        SeededRandom random;
        TWorld1 settings(random);
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        const QStringList misfits = misfitsIn(settings.centralWidget());
        QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(u'\n')));
    }

    void aboutWindowTextsFit()
    {
        TWorldSplash about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QStringList misfits = misfitsIn(&about);
        QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(u'\n')));
    }

    void errorBoxTextsFit_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("rejected seed") << "'WWWWWWWW' is not a valid integer value";
        QTest::newRow("out of memory") << "Out of memory";
    }
    void errorBoxTextsFit()
    {
        QFETCH(QString, message);
        QStringList misfits;
        bool measured = false;
        QTimer measurer;
        connect(&measurer, &QTimer::timeout, [&] {
            for (QWidget *window : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(window);
                if (!box || !box->isVisible())
                    continue;
                misfits = misfitsIn(box);
                measured = true;
                box->button(QMessageBox::Ok)->click();
            }
        });
        measurer.start(5);
        showErrorBox(message);
        QVERIFY(measured);
        QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(u'\n')));
    }
};

class TextFitTest : public QObject {
    Q_OBJECT
private slots:
    void everyTextFits_data()
    {
        QTest::addColumn<QString>("face");
        QTest::addColumn<int>("dpi");
        for (const char *face : {"DejaVu Sans", "Liberation Sans"})
            for (const int dpi : {96, 120, 144})
                QTest::addRow("%s at %d dpi", face, dpi) << QString::fromLatin1(face) << dpi;
    }
    void everyTextFits()
    {
        QFETCH(QString, face);
        QFETCH(int, dpi);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QFile screens(folder.filePath(QStringLiteral("screens.json")));
        QVERIFY(screens.open(QIODevice::WriteOnly));
        // The base resolution equal to the screen's, so that the windows see
        // it as it is rather than as a device pixel ratio.
        screens.write(QStringLiteral(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1920,
            "height": 1200, "logicalDpi": %1, "logicalBaseDpi": %1, "dpr": 1}]})")
                          .arg(dpi)
                          .toUtf8());
        screens.close();

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Named from the child's folder: the platform's arguments are split
        // at colons, and a Windows path has one after its drive letter.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=screens.json"));
        environment.insert(QString::fromLatin1(kFaceVariable), face);
        environment.insert(QString::fromLatin1(kDpiVariable), QString::number(dpi));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.setWorkingDirectory(folder.path());
        // Its report on standard output, which Windows would otherwise send
        // to the debugger.
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--measure"), QStringLiteral("-o"), QStringLiteral("-,txt")});
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
    }
};

int main(int argc, char *argv[])
{
    TerralumeApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == QStringLiteral("--measure")) {
        arguments.removeAt(1);
        QFont face = QApplication::font();
        face.setFamilies({qEnvironmentVariable(kFaceVariable)});
        QApplication::setFont(face);
        TextMeasure measure;
        return QTest::qExec(&measure, arguments);
    }
    TextFitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "TextFitTest.moc"
