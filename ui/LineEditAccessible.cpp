#include "LineEditAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLineEdit>

namespace terralume::ui {

namespace {

class LineEditAccessible : public QAccessibleWidget,
                           public QAccessibleTextInterface,
                           public QAccessibleEditableTextInterface {
public:
    explicit LineEditAccessible(QLineEdit *edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return shown();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = !edit()->isReadOnly();
        state.readOnly = edit()->isReadOnly();
        state.selectableText = true;
        state.passwordEdit = edit()->echoMode() != QLineEdit::Normal;
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::EditableTextInterface)
            return static_cast<QAccessibleEditableTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index != 0 || !edit()->hasSelectedText())
            return;
        *start = edit()->selectionStart();
        *end = *start + edit()->selectionLength();
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            edit()->deselect();
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            edit()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(position); }

    QString text(int start, int end) const override
    {
        return start > end ? QString() : shown().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(shown().size()); }

    QRect characterRect(int offset) const override
    {
        const QString text = edit()->displayText();
        if (offset < 0 || offset >= text.size())
            return {};
        const QFontMetrics metrics = edit()->fontMetrics();
        // The text starts where the cursor stands less the text before the
        // cursor: that also counts the part scrolled out of sight.
        const QRect cursor = edit()->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        const int start = cursor.x() - metrics.horizontalAdvance(text.left(edit()->cursorPosition()));
        const QRect rect(start + metrics.horizontalAdvance(text.left(offset)), cursor.y(),
                         metrics.horizontalAdvance(text.mid(offset, 1)), cursor.height());
        return QRect(edit()->mapToGlobal(rect.topLeft()), rect.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return edit()->cursorPositionAt(edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int) override { edit()->setCursorPosition(start); }

    QString attributes(int offset, int *start, int *end) const override
    {
        // One run for the whole text: Orca reads a line run by run.
        *start = 0;
        *end = characterCount();
        if (offset < 0 || offset > *end)
            *start = *end = -1;
        return QString();
    }

    void deleteText(int start, int end) override { replaceText(start, end, QString()); }
    void insertText(int offset, const QString &text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString &text) override
    {
        if (edit()->isReadOnly())
            return;
        QString changed = edit()->text();
        changed.replace(start, end - start, text);
        edit()->setText(changed);
        edit()->setCursorPosition(start + static_cast<int>(text.size()));
    }

private:
    QLineEdit *edit() const { return static_cast<QLineEdit *>(widget()); }
    // A password is not read out.
    QString shown() const { return edit()->echoMode() == QLineEdit::Normal ? edit()->text() : QString(); }
};

QAccessibleInterface *lineEditAccessible(const QString &className, QObject *object)
{
    // A spin box's field is read through the spin box, as Qt has it.
    if (className != QLatin1String("QLineEdit") || !object->isWidgetType() ||
        object->objectName() == QLatin1String("qt_spinbox_lineedit"))
        return nullptr;
    return new LineEditAccessible(static_cast<QLineEdit *>(object));
}

} // namespace

void installLineEditAccessible()
{
    static const bool installed = [] {
        QAccessible::installFactory(lineEditAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace terralume::ui
