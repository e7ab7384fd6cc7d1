#pragma once
// Driving the windows the way a user does: clicks and keys go through the
// application object, so errors take the real road to the error box, and
// the modal map window is worked from inside its own event loop.

#include "ProgramWindows.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QSignalSpy>
#include <QTimer>

#include <functional>
#include <optional>

namespace terralume::ui::testing {

// What the error box showed, captured before OK is pressed on it.
struct ShownBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::AutoText;
};

// Watches for message boxes while alive and answers each with OK.
class ErrorBoxWatcher {
public:
    ErrorBoxWatcher()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start();
    }

    const QList<ShownBox> &boxes() const { return boxes_; }

private:
    void answer()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            boxes_.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->textFormat()});
            QAbstractButton *ok = box->button(QMessageBox::Ok);
            if (ok)
                ok->click();
            else
                box->reject();
        }
    }

    QTimer timer_;
    QList<ShownBox> boxes_;
};

template <class T> T *find(const QObject &parent, const char *name)
{
    return parent.findChild<T *>(QString::fromLatin1(name));
}

inline void pressGenerate(TWorld1 &settings)
{
    QTest::mouseClick(find<QPushButton>(settings, "butGenerate"), Qt::LeftButton);
}

// Runs `whileOpen` inside the map window's modal run, then closes the map
// with its Exit entry. `press` starts the run (Generate by default).
// Returns false when the map window never opened.
inline bool withMapOpen(TWorld1 &settings, TWorldScr &map, const std::function<void(TWorldScr &)> &whileOpen,
                        const std::function<void()> &press = {})
{
    bool opened = false;
    // Local, so it cannot fire later into a finished test when the map
    // never opens.
    QTimer opener;
    opener.setSingleShot(true);
    opener.setInterval(0);
    QObject::connect(&opener, &QTimer::timeout, [&] {
        if (!map.isVisible())
            return;
        opened = true;
        struct CloseAfter {
            TWorldScr &map;
            ~CloseAfter() { find<QAction>(map, "Exit1")->trigger(); }
        } closeAfter{map};
        whileOpen(map);
    });
    opener.start();
    if (press)
        press();
    else
        pressGenerate(settings);
    // Closing the map waits for no job; what the test looks at next is the
    // job's outcome, so the test waits for it.
    if (map.jobRunning()) {
        QSignalSpy ended(&map, &TWorldScr::jobEnded);
        if (!ended.wait(120000))
            return false;
    }
    return opened && !map.isVisible();
}

// The zoom entries in menu order, x 1 first.
inline QList<QAction *> zoomEntries(const TWorldScr &map)
{
    return {find<QAction>(map, "x11"), find<QAction>(map, "X21"), find<QAction>(map, "X31"), find<QAction>(map, "x41"),
            find<QAction>(map, "X51")};
}

inline QList<int> checkedZooms(const TWorldScr &map)
{
    QList<int> checked;
    const QList<QAction *> entries = zoomEntries(map);
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i]->isChecked())
            checked.append(i + 1);
    return checked;
}

// The program's windows as start-up wires them, on a screen large enough
// that no map needs to maximise.
struct Program : ProgramWindows {
    Program() { WorldScr.setScreenSize(QSize(100000, 100000)); }
};

} // namespace terralume::ui::testing
