// Prints the largest view from the map window on the display it is given and
// reports on stdout how the window fared meanwhile: how often the map picture
// was painted while the job ran, the longest time the event loop did not
// run, and every message box shown. Run by the desktop print test.
#include "ProgramWindows.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace terralume::ui;

namespace {

// Paints of the picture while the job runs.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(const TWorldScr &map) : map_(map) {}
    int duringJob = 0;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && map_.jobRunning())
            ++duringJob;
        return QObject::eventFilter(watched, event);
    }

private:
    const TWorldScr &map_;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    ProgramWindows windows;
    windows.World1.findChild<QComboBox *>(QStringLiteral("lstSize"))->setCurrentText(QStringLiteral("Large"));
    TWorldScr &map = windows.WorldScr;

    QStringList boxes;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible()) {
                boxes.append(box->text());
                box->done(QMessageBox::Ok);
            }
    });
    answer.start(10);

    int paints = -1;
    qint64 longestGapMs = -1;
    bool ended = false;
    QTimer::singleShot(0, &map, [&] {
        if (!QTest::qWaitForWindowExposed(&map)) {
            map.close();
            return;
        }
        map.findChild<QAction *>(QStringLiteral("X51"))->trigger();
        QWidget *picture = map.findChild<QWidget *>(QStringLiteral("Image1"));
        QScrollBar *scroll = map.findChild<QScrollArea *>(QStringLiteral("ScrollBox1"))->verticalScrollBar();
        PaintCounter counter(map);
        picture->installEventFilter(&counter);
        // Each turn of the loop during the job scrolls the picture a little,
        // which exposes a strip of it to paint.
        QElapsedTimer clock;
        QTimer turn;
        turn.setInterval(0);
        QObject::connect(&turn, &QTimer::timeout, [&] {
            if (!map.jobRunning())
                return;
            longestGapMs = std::max(longestGapMs, clock.restart());
            scroll->setValue((scroll->value() + 16) % std::max(1, scroll->maximum()));
        });
        QSignalSpy jobEnded(&map, &TWorldScr::jobEnded);
        clock.start();
        turn.start();
        map.findChild<QAction *>(QStringLiteral("PrintMap1"))->trigger();
        ended = !jobEnded.isEmpty() || jobEnded.wait(120000);
        picture->removeEventFilter(&counter);
        paints = counter.duringJob;
        map.close();
    });
    windows.World1.findChild<QPushButton *>(QStringLiteral("butGenerate"))->click();

    std::printf("job ended: %s\npaints during the job: %d\nlongest event-loop gap: %lld ms\n", ended ? "yes" : "no",
                paints, static_cast<long long>(longestGapMs));
    for (const QString &box : boxes)
        std::printf("message box: %s\n", qPrintable(box));
    return 0;
}
