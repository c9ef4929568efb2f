// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own accessible for a label would read its text but offer no press;
// one that offers the press must then read the text itself, as name and
// through the Text interface, or a screen reader hears nothing of the status
// line. A plain QFrame is told as a "border", which AT-SPI calls a frame, the
// role of a top-level window: screen readers take each group for an inactive
// window and keep quiet about the focus inside it.

#include "ui/panel_accessibles.h"

#include <QAccessibleApplication>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>

#include "ui/click_label.h"
#include "ui/logo_image.h"

namespace {

class LabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelAccessible(ClickLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) { }

    ClickLabel *label() const { return static_cast<ClickLabel *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        // A label with a name of its own (a clickable one says what it asks)
        // keeps it; any other is named by what it shows.
        if (kind == QAccessible::Name && label()->accessibleName().isEmpty())
            return label()->text();
        return QAccessibleWidget::text(kind);
    }

    // Asked each time: the label's click is wired after it is made.
    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (label()->onClick)
            names.prepend(pressAction());
        return names;
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
    void doAction(const QString &action) override
    {
        if (action == pressAction() && label()->onClick)
            label()->onClick();
        else
            QAccessibleWidget::doAction(action);
    }

    // The Text interface: read-only, no caret and no selection.
    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override { }
    void removeSelection(int) override { }
    void setSelection(int, int, int) override { }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override { }
    QString text(int startOffset, int endOffset) const override
    {
        const QString all = label()->text();
        if (startOffset < 0 || endOffset < startOffset || startOffset > all.size())
            return {};
        return all.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return static_cast<int>(label()->text().size()); }
    QRect characterRect(int offset) const override
    {
        const QString all = label()->text();
        if (offset < 0 || offset >= all.size())
            return {};
        const QFontMetrics metrics(label()->font());
        const QRect inside = label()->contentsRect();
        const int x = inside.left() + metrics.horizontalAdvance(all.left(offset));
        const QRect local(x, inside.top(), metrics.horizontalAdvance(all.at(offset)), metrics.height());
        return QRect(label()->mapToGlobal(local.topLeft()), local.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        const QString all = label()->text();
        const QPoint local = label()->mapFromGlobal(point);
        if (!label()->rect().contains(local))
            return -1;
        const QFontMetrics metrics(label()->font());
        const int x = local.x() - label()->contentsRect().left();
        for (int offset = 0; offset < all.size(); ++offset) {
            if (metrics.horizontalAdvance(all.left(offset + 1)) > x)
                return offset;
        }
        return -1;
    }
    void scrollToSubstring(int, int) override { }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }
};

// A frame groups the controls inside it, named by its caption.
class GroupAccessible : public QAccessibleWidget {
public:
    explicit GroupAccessible(QFrame *frame) : QAccessibleWidget(frame, QAccessible::Grouping) { }
};

// The logo's double-click, for those who cannot double-click, and the way
// back.
class LogoAccessible : public QAccessibleWidget {
public:
    explicit LogoAccessible(LogoImage *logo) : QAccessibleWidget(logo, QAccessible::Graphic) { }
    static QString openAction() { return QStringLiteral("Open full height"); }
    static QString backAction() { return QStringLiteral("Back to compact height"); }
    QStringList actionNames() const override { return {openAction(), backAction()}; }
    QString localizedActionDescription(const QString &action) const override
    {
        if (action == openAction())
            return QStringLiteral(
                "Opens the window to its full height, as Ctrl+Q and a double-click on the logo do");
        if (action == backAction())
            return QStringLiteral("Closes the data panel, as its button does");
        return QAccessibleWidget::localizedActionDescription(action);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
    void doAction(const QString &action) override
    {
        auto *logo = static_cast<LogoImage *>(widget());
        if (action == openAction() && logo->onOpenFullHeight)
            logo->onOpenFullHeight();
        else if (action == backAction() && logo->onBackToCompact)
            logo->onBackToCompact();
    }
};

class ApplicationAccessible : public QAccessibleApplication {
public:
    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return QString::fromUtf8(kApplicationDisplayName);
        return QAccessibleApplication::text(kind);
    }
};

} // namespace

QAccessibleInterface *panelAccessible(const QString &, QObject *object)
{
    if (object == qApp)
        return new ApplicationAccessible;
    if (auto *label = dynamic_cast<ClickLabel *>(object))
        return new LabelAccessible(label);
    if (auto *logo = dynamic_cast<LogoImage *>(object))
        return new LogoAccessible(logo);
    if (auto *frame = qobject_cast<QFrame *>(object); frame
        && frame->metaObject() == &QFrame::staticMetaObject
        && frame->objectName().startsWith(QLatin1String("Frame")))
        return new GroupAccessible(frame);
    return nullptr;
}
