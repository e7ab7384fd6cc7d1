#pragma once
// The help viewer: the program's help pages in a window of their own,
// reused for every request and closed with the window that opened it.

#include <QPointer>
#include <QWidget>

class QTextBrowser;

namespace terralume::ui {

class SpokenNotice;

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // contentsFile is the help's contents page; the embedded help unless a
    // caller points elsewhere.
    explicit HelpWindow(QWidget *owner, const QString &contentsFile = defaultContentsFile());

    // What Help > Help does: the owner's help window (made on first use)
    // comes forward at its contents page.
    static HelpWindow *openFor(QWidget *owner);
    // The help window opened for `owner`, if there is one yet.
    static HelpWindow *of(const QWidget *owner);

    QWidget *owner() const { return owner_; }

    static QString defaultContentsFile();

    void showContents();
    bool helpFound() const { return found_; }
    QTextBrowser *browser() const { return browser_; }

private:
    void announcePage();

    QPointer<QWidget> owner_;
    QString contentsFile_;
    QTextBrowser *browser_ = nullptr;
    SpokenNotice *notice_ = nullptr;
    bool found_ = false;
};

} // namespace terralume::ui
