#include "read_only_box_accessible.h"

#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionFrame>
#include <algorithm>

namespace tolvar {

namespace {

// A read-only QLineEdit: its text can be read, selected and walked by the caret, never
// changed. A box that becomes editable says so.
class ReadOnlyBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadOnlyBoxAccessible(QLineEdit* box)
        : QAccessibleWidget(box, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = box()->isReadOnly();
        s.editable = !s.readOnly;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return box()->text();
        QString said = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && said.isEmpty())
            if (const QLabel* label = namingLabel())
                said = label->text().remove(QLatin1Char('&'));
        return said;
    }

    QList<QPair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        auto found = QAccessibleWidget::relations(match);
        const bool hasLabel = std::any_of(found.cbegin(), found.cend(), [](const auto& r) {
            return r.second & QAccessible::Label;
        });
        if ((match & QAccessible::Label) && !hasLabel)
            if (QLabel* label = namingLabel())
                found.append({QAccessible::queryAccessibleInterface(label), QAccessible::Label});
        return found;
    }

    // Text interface, over the box's own text, selection and caret.
    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && box()->hasSelectedText()) {
            *start = box()->selectionStart();
            *end = *start + static_cast<int>(box()->selectedText().size());
        }
    }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { box()->deselect(); }
    void setSelection(int, int start, int end) override { box()->setSelection(start, end - start); }
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        return box()->text().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(box()->text().size()); }
    QRect characterRect(int offset) const override {
        const QString shown = box()->text();
        const QFontMetrics metrics = box()->fontMetrics();
        const QRect field = box()->contentsRect();
        const int x = metrics.horizontalAdvance(shown.left(offset));
        const int width = offset < shown.size() ? metrics.horizontalAdvance(shown.at(offset)) : 0;
        const QRect local(field.x() + x, field.y(), width, field.height());
        return QRect(box()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int) override { box()->setCursorPosition(start); }
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QLineEdit* box() const { return static_cast<QLineEdit*>(object()); }

    // The label beside the box that names it: its buddy, or one whose words are its name.
    QLabel* namingLabel() const {
        const QWidget* parent = box()->parentWidget();
        if (!parent)
            return nullptr;
        const QString name = box()->accessibleName();
        for (QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
            QString words = label->text().remove(QLatin1Char('&')).trimmed();
            if (words.endsWith(QLatin1Char(':')))
                words.chop(1);
            if (label->buddy() == box() || (!name.isEmpty() && words == name))
                return label;
        }
        return nullptr;
    }
};

QAccessibleInterface* readOnlyBoxFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QLineEdit"))
        return nullptr;
    auto* box = qobject_cast<QLineEdit*>(object);
    return box && box->isReadOnly() ? new ReadOnlyBoxAccessible(box) : nullptr;
}

} // namespace

void installReadOnlyBoxAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(readOnlyBoxFactory);
        return true;
    }();
    (void)installed;
}

} // namespace tolvar
