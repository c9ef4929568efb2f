// SPDX-License-Identifier: GPL-3.0-or-later
// Building the window from the control table, and the event wiring: clicks
// for the catalogue, mouse press and release for the hold buttons (never the
// pressed/released signals, which the space bar raises too), double-click on
// the logo, and key preview through an application event filter.

#include "ui/form1.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "commands/catalogue.h"
#include "commands/hold_buttons.h"
#include "ui/accessible_texts.h"
#include "ui/caption_layout.h"
#include "ui/click_label.h"
#include "ui/fonts.h"
#include "ui/logo_image.h"
#include "panel/panel.h"
#include "ui/panel_accessibles.h"
#include "ui/panel_style.h"
#include "panel/window_sizes.h"

namespace {

QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// One style for every control of the window, alive as long as any widget.
QStyle *panelStyle()
{
    static PanelStyle *const style = new PanelStyle;
    return style;
}

QColor colourOf(std::int32_t rgb)
{
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Button and option captions are not mnemonics: an '&' is shown as it is.
QString literalCaption(std::string_view text)
{
    return qs(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

// A push button that sets its own caption: on as many lines as it needs,
// every character visible (see caption_layout.h), over the face the
// window's style fills with the back colour.
class PanelButton : public QPushButton {
protected:
    // Enter (Return or the keypad's) activates the focused button as Space
    // does; Qt leaves that to a dialog's default button, and the panel has
    // none.
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
            return QPushButton::keyPressEvent(event);
        event->accept();
        if (!event->isAutoRepeat())
            animateClick();
    }
    void paintEvent(QPaintEvent *) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        painter.drawPrimitive(QStyle::PE_PanelButtonCommand, option);
        QString caption = text();
        caption.replace(QStringLiteral("&&"), QStringLiteral("&"));
        const CaptionLayout layout = layoutCaption(caption, font(), size());
        QRect area = rect();
        if (isDown())
            area.translate(1, 1); // the caption sinks with the face
        const int total = static_cast<int>(layout.lines.size()) * layout.pitch;
        int y = area.top() + (area.height() - total) / 2;
        // A lit face is the caption's colour (see PanelStyle): the caption
        // and the focus rectangle take the face's.
        const bool lit = property("lit").toBool();
        const QColor ink = palette().color(lit ? QPalette::Button : QPalette::ButtonText);
        painter.setPen(ink);
        painter.setFont(layout.font);
        for (const QString &line : layout.lines) {
            painter.drawText(QRect(area.left(), y, area.width(), layout.pitch),
                Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextDontClip, line);
            y += layout.pitch;
        }
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.palette.setColor(QPalette::ButtonText, ink);
            focus.rect = rect().adjusted(3, 3, -3, -3);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }
};

class HoldPushButton : public PanelButton {
public:
    std::function<void()> onPress;
    std::function<void()> onRelease;
    // From the keyboard: the key's first press, and its release.
    std::function<void(bool autoRepeat)> onKeyPress;
    std::function<void(bool autoRepeat)> onKeyRelease;
    // A click that no mouse made (an assistive tool's press): one step.
    std::function<void()> onStep;

    HoldPushButton()
    {
        connect(this, &QAbstractButton::clicked, this, [this] {
            if (!byMouse_ && onStep)
                onStep();
        });
        letGoSoon_.setSingleShot(true);
        letGoSoon_.setInterval(kRepeatGraceMs);
        connect(&letGoSoon_, &QTimer::timeout, this, [this] { letGo(); });
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (onPress)
            onPress();
        QPushButton::mousePressEvent(event);
        if (event->button() != Qt::LeftButton)
            setDown(true); // any mouse button holds, and looks it
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (onRelease)
            onRelease();
        byMouse_ = true; // the click this release makes was the hold's
        QPushButton::mouseReleaseEvent(event);
        byMouse_ = false;
        if (event->button() != Qt::LeftButton)
            setDown(false);
    }
    // Space and Enter hold the button as the mouse does; the button's own
    // key handling would make a click of the release instead.
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!holdsWith(event))
            return PanelButton::keyPressEvent(event);
        event->accept();
        if (event->key() == keyHeld_ && letGoSoon_.isActive()) {
            letGoSoon_.stop(); // the release was the key's own repeat
            return;
        }
        if (event->isAutoRepeat() || keyHeld_)
            return;
        keyHeld_ = event->key();
        setDown(true);
        if (onKeyPress)
            onKeyPress(false);
    }
    void keyReleaseEvent(QKeyEvent *event) override
    {
        if (!holdsWith(event))
            return PanelButton::keyReleaseEvent(event);
        event->accept();
        if (event->isAutoRepeat() || event->key() != keyHeld_)
            return;
        // X repeats a held key as a release and a press at once; when Qt
        // has not read the press yet it cannot mark the pair as a repeat,
        // so a press of the same key within a moment takes the release back.
        letGoSoon_.start();
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        letGo();
        PanelButton::focusOutEvent(event);
    }

private:
    static bool holdsWith(const QKeyEvent *event)
    {
        return event->key() == Qt::Key_Space || event->key() == Qt::Key_Return
            || event->key() == Qt::Key_Enter;
    }
    void letGo()
    {
        letGoSoon_.stop();
        if (!keyHeld_)
            return;
        keyHeld_ = 0;
        setDown(false);
        if (onKeyRelease)
            onKeyRelease(false);
    }

    static constexpr int kRepeatGraceMs = 60;
    bool byMouse_ = false;
    int keyHeld_ = 0; // the key holding the button, if any
    QTimer letGoSoon_;
};

// An option button that the whole of its box selects, not only its circle
// and caption, painted in its back colour. Its group is the options of its
// own frame and nothing else: selecting one clears its siblings explicitly,
// since Qt's auto-exclusivity alone left two port options lit at once.
class OptionButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;
    void select()
    {
        for (QObject *sibling : parent()->children()) {
            auto *other = dynamic_cast<OptionButton *>(sibling);
            if (!other || other == this || !other->isChecked())
                continue;
            // An auto-exclusive option cannot be cleared directly.
            other->setAutoExclusive(false);
            other->setChecked(false);
            other->setAutoExclusive(true);
        }
        setChecked(true);
    }

protected:
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }
    // Enter chooses the focused option, as Space does.
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
            return QRadioButton::keyPressEvent(event);
        event->accept();
        if (!event->isAutoRepeat())
            click();
    }
    // A click selects; it never clears a selected option.
    void nextCheckState() override { select(); }
};

Qt::Alignment alignmentOf(Align align)
{
    switch (align) {
    case Align::Centre:
        return Qt::AlignHCenter | Qt::AlignTop;
    case Align::Right:
        return Qt::AlignRight | Qt::AlignTop;
    case Align::Left:
        break;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

void paint(QWidget *widget, QPalette::ColorRole face, QPalette::ColorRole text, const ControlRow &row)
{
    QPalette palette = widget->palette();
    if (row.back != kSystemColour)
        palette.setColor(face, colourOf(row.back));
    palette.setColor(text, colourOf(row.text));
    widget->setPalette(palette);
}

} // namespace

int twipsToPixels(double twips)
{
    return qRound(twips / 15.0);
}

Form1::Form1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(qs(kWindowCaption));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, colourOf(kWindowBack));
    palette.setColor(QPalette::WindowText, colourOf(kBlack));
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(fontFor(kWindowFont));
    const int clientWidth = twipsToPixels(kDesignClientWidth);
    const int clientHeight = twipsToPixels(kDesignClientHeight);
    // The program never changes the width; the user may shorten the window.
    setFixedWidth(clientWidth);
    setMaximumHeight(clientHeight);
    resize(clientWidth, clientHeight);
    static const bool accessibles = [] {
        QAccessible::installFactory(panelAccessible);
        return true;
    }();
    (void)accessibles;
    build();
    qApp->installEventFilter(this);
}

Form1::~Form1()
{
    qApp->removeEventFilter(this);
}

void Form1::build()
{
    for (const ControlRow &row : kControls) {
        if (row.kind == ControlKind::Line) {
            lines_.push_back(&row);
            continue;
        }
        if (row.kind == ControlKind::Timer || row.kind == ControlKind::Serial)
            continue; // not widgets: the timers and the port are assembled beside the window
        QWidget *container = row.container == "Form1" ? this : control(row.container);
        QWidget *widget = createWidget(row, container);
        widget->setObjectName(qs(row.name));
        if (const auto spoken = accessibleTextFor(row.name)) {
            if (!spoken->name.empty())
                widget->setAccessibleName(qs(spoken->name));
            else if (row.kind == ControlKind::Button)
                widget->setAccessibleName(qs(accessibleNameFor(row.name, row.caption)));
            widget->setAccessibleDescription(qs(spoken->description));
        }
        const int x = twipsToPixels(row.left);
        const int y = twipsToPixels(row.top);
        widget->setGeometry(
            x, y, twipsToPixels(row.left + row.width) - x, twipsToPixels(row.top + row.height) - y);
        if (row.font != FontKey::None)
            widget->setFont(fontFor(row.font));
        widget->setStyle(panelStyle());
        if (row.start == Start::Hidden)
            widget->hide();
        controls_.emplace(std::string(row.name), widget);
    }
    // Overlapping neighbours stack as the table orders them, the earlier row
    // above the later one ("CMD" does not cover the entry box's edge); and
    // the port settings frame, when shown, lies over the COM button.
    for (auto row = kControls.rbegin(); row != kControls.rend(); ++row) {
        if (QWidget *widget = control(row->name))
            widget->raise();
    }
    control("Frame8")->raise();
    // A caption that covers a button's top edge only in part (NO SHOW and
    // FREEZE are narrower than their pair of buttons) would leave stubs of
    // the edge at the button's outer corners: such a button lies above it.
    for (const ControlRow &row : kControls) {
        QWidget *button = row.kind == ControlKind::Button ? control(row.name) : nullptr;
        if (!button)
            continue;
        for (QObject *sibling : button->parentWidget()->children()) {
            auto *label = qobject_cast<QLabel *>(sibling);
            const QRect overlap = label ? label->geometry() & button->geometry() : QRect();
            if (!overlap.isEmpty() && overlap.width() < button->width())
                button->raise();
        }
    }
    setTabOrder();
    for (const auto &[name, widget] : controls_) {
        if (widget->focusPolicy() & Qt::TabFocus)
            tabPolicies_.emplace(widget, widget->focusPolicy());
    }
    control("Command17")->setFocus();
}

QWidget *Form1::createWidget(const ControlRow &row, QWidget *container)
{
    switch (row.kind) {
    case ControlKind::Button:
        return createButton(row, container);
    case ControlKind::Label:
        return createLabel(row, container);
    case ControlKind::Frame:
        return createFrame(row, container);
    case ControlKind::Option:
        return createOption(row, container);
    case ControlKind::TextBox:
        return new QLineEdit(container);
    case ControlKind::Image:
        return createImage(container);
    case ControlKind::Line:
    case ControlKind::Timer:
    case ControlKind::Serial:
        break;
    }
    return new QWidget(container);
}

QWidget *Form1::createButton(const ControlRow &row, QWidget *container)
{
    const std::string name(row.name);
    QPushButton *button = nullptr;
    if (holdButtonFor(row.name)) {
        auto *hold = new HoldPushButton;
        hold->onPress = [this, name] {
            if (panel_)
                panel_->mouseDown(name);
        };
        hold->onRelease = [this, name] {
            if (panel_)
                panel_->mouseUp(name);
        };
        hold->onKeyPress = [this, name](bool autoRepeat) {
            if (panel_)
                panel_->holdKeyDown(name, autoRepeat);
        };
        hold->onKeyRelease = [this, name](bool autoRepeat) {
            if (panel_)
                panel_->holdKeyUp(name, autoRepeat);
        };
        hold->onStep = [this, name] {
            if (panel_)
                panel_->holdStep(name);
        };
        button = hold;
    } else {
        button = new PanelButton;
        connect(button, &QPushButton::clicked, this, [this, name] {
            if (panel_)
                panel_->click(name);
        });
    }
    button->setParent(container);
    button->setText(literalCaption(row.caption));
    button->setAutoDefault(false);
    paint(button, QPalette::Button, QPalette::ButtonText, row);
    return button;
}

QWidget *Form1::createLabel(const ControlRow &row, QWidget *container)
{
    const std::string name(row.name);
    auto *label = new ClickLabel;
    label->setParent(container);
    label->setTextFormat(Qt::PlainText); // received bytes end up here: never markup
    label->setText(qs(row.caption));
    label->setAlignment(alignmentOf(row.align));
    // The matrix's row numbers are as tall as their rows: centred on
    // them, level with the buttons' captions.
    if (const CatalogueEntry *entry = catalogueEntryFor(row.name);
        entry && entry->group == "Input selection matrix")
        label->setAlignment((alignmentOf(row.align) & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
    label->setAutoFillBackground(true);
    if (row.border) {
        label->border = true;
        label->setContentsMargins(1, 1, 1, 1);
    }
    paint(label, QPalette::Window, QPalette::WindowText, row);
    if (catalogueEntryFor(row.name)) {
        label->setFocusPolicy(Qt::TabFocus);
        label->onClick = [this, name] {
            if (panel_)
                panel_->click(name);
        };
    }
    return label;
}

QWidget *Form1::createFrame(const ControlRow &row, QWidget *container)
{
    // Captionless: only the etched border shows, in the window's grey.
    auto *frame = new QFrame(container);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame->setAutoFillBackground(true);
    paint(frame, QPalette::Window, QPalette::WindowText, row);
    return frame;
}

QWidget *Form1::createOption(const ControlRow &row, QWidget *container)
{
    const std::string name(row.name);
    auto *option = new OptionButton(literalCaption(row.caption), container);
    // A button fills with its Button role by default; the back colour is
    // set on Window.
    option->setBackgroundRole(QPalette::Window);
    option->setAutoFillBackground(true);
    option->setChecked(row.start == Start::Selected);
    paint(option, QPalette::Window, QPalette::WindowText, row);
    connect(option, &QRadioButton::clicked, this, [this, name] {
        if (panel_)
            panel_->click(name);
    });
    return option;
}

QWidget *Form1::createImage(QWidget *container)
{
    auto *image = new LogoImage;
    image->setParent(container);
    image->setPixmap(QPixmap(QStringLiteral(":/ui/image1.png")));
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image->setTextFormat(Qt::PlainText);
    image->setAccessibleName(QStringLiteral("QV550 logo"));
    image->onDoubleClick = [this] {
        if (panel_)
            panel_->dblClick("Image1");
    };
    image->onOpenFullHeight = [this] {
        if (panel_)
            panel_->openFullHeight();
    };
    image->onBackToCompact = [this] {
        if (panel_)
            panel_->backToCompact();
    };
    return image;
}

void Form1::setTabOrder()
{
    std::vector<const ControlRow *> ordered;
    for (const ControlRow &row : kControls) {
        if (row.tab >= 0)
            ordered.push_back(&row);
    }
    std::sort(ordered.begin(), ordered.end(), [](auto *a, auto *b) { return a->tab < b->tab; });
    QWidget *previous = nullptr;
    for (const ControlRow *row : ordered) {
        QWidget *widget = control(row->name);
        if (!widget || !(widget->focusPolicy() & Qt::TabFocus))
            continue; // frames and labels hold a place but never take the focus
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

QWidget *Form1::control(std::string_view name) const
{
    const auto found = controls_.find(name);
    return found == controls_.end() ? nullptr : found->second;
}

void Form1::setCaption(std::string_view name, std::string_view text)
{
    QWidget *widget = control(name);
    QString caption = qs(text);
    if (caption.size() > kDisplayLimit)
        caption.truncate(kDisplayLimit);
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        if (label->text() == caption)
            return;
        const QString before = label->text();
        label->setText(caption);
        // A live status (the status line, TXD, RXD) is heard as it changes:
        // the text changed, and so did the name of a label named by it.
        if (QAccessible::isActive()) {
            QAccessibleTextUpdateEvent changed(label, 0, before, caption);
            QAccessible::updateAccessibility(&changed);
            if (label->accessibleName().isEmpty()) {
                QAccessibleEvent renamed(label, QAccessible::NameChanged);
                QAccessible::updateAccessibility(&renamed);
            }
        }
    } else if (auto *button = qobject_cast<QAbstractButton *>(widget)) {
        // A button without a fixed name (the data panel button) is named
        // by what its caption now says it does.
        if (const auto spoken = accessibleTextFor(name); !spoken || spoken->name.empty())
            button->setAccessibleName(qs(accessibleNameFor(name, text)));
        button->setText(caption.replace(QLatin1Char('&'), QStringLiteral("&&")));
    }
}

void Form1::setLineState(std::string_view state)
{
    // Beside the caption, so nothing inside the window moves.
    setWindowTitle(
        state.empty() ? qs(kWindowCaption) : qs(kWindowCaption) + QStringLiteral(" - ") + qs(state));
}

void Form1::setLit(std::string_view name, bool lit)
{
    QWidget *widget = control(name);
    if (!widget || widget->property("lit").toBool() == lit)
        return;
    widget->setProperty("lit", lit);
    // Told to screen readers as a pressed toggle would be.
    const QString active = QStringLiteral(" Active now.");
    QString description = widget->accessibleDescription();
    if (lit)
        description += active;
    else if (description.endsWith(active))
        description.chop(active.size());
    widget->setAccessibleDescription(description);
    widget->update();
}

void Form1::setHint(std::string_view name, std::string_view text)
{
    if (QWidget *widget = control(name)) {
        // Each line is a name and its value: shown as a table's two columns,
        // which line up in any font, as padding with spaces does only in a
        // fixed one. Every piece is escaped: the values come from the line,
        // and a tooltip would read anything that looks like markup as markup.
        QString table = QStringLiteral("<table cellspacing='0' cellpadding='1'>");
        for (const QString &line : qs(text).split(QLatin1Char('\n'))) {
            const QString trimmed = line.trimmed();
            const qsizetype gap = trimmed.indexOf(QLatin1Char(' '));
            const QString label = gap < 0 ? trimmed : trimmed.left(gap);
            const QString value = gap < 0 ? QString() : trimmed.mid(gap).trimmed();
            table += QStringLiteral("<tr><td style='white-space:pre'>") + label.toHtmlEscaped()
                + QStringLiteral("</td><td style='white-space:pre; padding-left:8px'>")
                + value.toHtmlEscaped() + QStringLiteral("</td></tr>");
        }
        widget->setToolTip(table + QStringLiteral("</table>"));
        widget->setAccessibleDescription(qs(text));
    }
}

void Form1::setVisible(std::string_view name, bool visible)
{
    if (QWidget *widget = control(name))
        widget->setVisible(visible);
}

std::string Form1::text(std::string_view name) const
{
    if (auto *edit = qobject_cast<QLineEdit *>(control(name)))
        return edit->text().toStdString();
    return {};
}

void Form1::setText(std::string_view name, std::string_view text)
{
    if (auto *edit = qobject_cast<QLineEdit *>(control(name)))
        edit->setText(qs(text));
}

void Form1::setSelected(std::string_view name)
{
    if (auto *option = dynamic_cast<OptionButton *>(control(name)))
        option->select();
}

float Form1::width() const
{
    return static_cast<float>(QWidget::width() * 15);
}

float Form1::height() const
{
    // The client area is the outer height less the title allowance, on every
    // platform; heights we set read back exactly.
    if (setHeight_ > 0.0F && twipsToPixels(setHeight_ - kTitleAllowance) == QWidget::height())
        return setHeight_;
    return static_cast<float>(QWidget::height() * 15 + kTitleAllowance);
}

// The window is placed where it is asked to be, kept inside the screen's
// available area: centred by its design height on a small or scaled screen,
// its top edge, its title bar and the logo would be out of reach. A height
// change keeps the window where the user has put it since: its place is read
// back, unless it is still where the panel put it (risen, perhaps, to show a
// full height), which keeps the place it rose from.
void Form1::setLeft(float twips)
{
    left_ = twipsToPixels(twips);
    placeOnScreen();
}

void Form1::setTop(float twips)
{
    top_ = twipsToPixels(twips);
    placeOnScreen();
}

void Form1::placeOnScreen()
{
    const QRect available = screen()->availableGeometry();
    const int x = std::clamp(
        left_, available.left(), std::max(available.left(), available.right() + 1 - QWidget::width()));
    int y = std::max(top_, available.top());
    // A height taller than the room below its place (the full height at 2x
    // on a 1280x1024 screen) would put what the user just opened, the
    // bottom rows, out of reach: the window rises until its bottom is on
    // screen, and goes back to its place when it is shorter again.
    const int outer = QWidget::height() + twipsToPixels(kTitleAllowance);
    if (y + outer > available.bottom() + 1)
        y = available.bottom() + 1 - outer;
    move(x, y);
    placedAt_ = QPoint(x, y);
}

void Form1::setHeight(float twips)
{
    if (placedAt_ && pos() != *placedAt_) {
        left_ = pos().x();
        top_ = pos().y();
    }
    setHeight_ = twips;
    resize(QWidget::width(), std::max(0, twipsToPixels(twips - kTitleAllowance)));
    placeOnScreen();
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Tab keeps the tab order but passes over what lies below the window's
    // current height, whoever set it.
    const QRect shown = rect();
    for (const auto &[name, widget] : controls_) {
        const auto policy = tabPolicies_.find(widget);
        if (policy == tabPolicies_.end())
            continue;
        const bool inside = shown.contains(QRect(widget->mapTo(this, QPoint(0, 0)), widget->size()));
        widget->setFocusPolicy(inside ? policy->second : Qt::FocusPolicy(policy->second & ~Qt::TabFocus));
    }
    // A control the window no longer shows keeps no focus, or Space would
    // act on what nobody sees; the data panel button, pressed to shorten the
    // window, keeps it so that pressed again it lengthens it again.
    QWidget *focused = focusWidget();
    if (focused && focused != control("Command34") && tabPolicies_.count(focused)
        && !(focused->focusPolicy() & Qt::TabFocus))
        focusNextPrevChild(true);
}

float Form1::screenWidth() const
{
    return static_cast<float>(screen()->geometry().width() * 15);
}

float Form1::screenHeight() const
{
    return static_cast<float>(screen()->geometry().height() * 15);
}

void Form1::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(colourOf(kLineColour), 2, Qt::SolidLine, Qt::FlatCap));
    for (const ControlRow *line : lines_) {
        painter.drawLine(twipsToPixels(line->left), twipsToPixels(line->top),
            twipsToPixels(line->left + line->width), twipsToPixels(line->top + line->height));
    }
}

void Form1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange && !isActiveWindow() && panel_)
        panel_->releaseHeld();
    QWidget::changeEvent(event);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !panel_)
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget)))
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool propagated = event == lastKey_ && key->timestamp() == lastKeyTime_ && lastKeyReceiver_
        && widget != lastKeyReceiver_ && widget->isAncestorOf(lastKeyReceiver_);
    lastKey_ = event;
    lastKeyTime_ = key->timestamp();
    lastKeyReceiver_ = widget;
    if (propagated)
        return false;
    int shift = 0;
    const Qt::KeyboardModifiers modifiers = key->modifiers();
    if (modifiers & Qt::ShiftModifier)
        shift |= kShiftMask;
    if (modifiers & Qt::ControlModifier)
        shift |= kCtrlMask;
    if (modifiers & Qt::AltModifier)
        shift |= kAltMask;
    // Qt's codes for letters and digits are the virtual key codes; F5 is not.
    const int code = key->key() == Qt::Key_F5 ? kKeyF5 : key->key() <= 0xFFFF ? key->key() : 0;
    panel_->keyDown(code, shift);
    return false; // the focused control gets the key as well
}
