// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The panel window: every control is a real Qt widget of its kind, built from
// the control table, named by its control name, and wired to the panel's
// logic. It is the logic's view and window geometry.

#include <QPointer>
#include <QWidget>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/view.h"
#include "core/window_geometry.h"
#include "panel/control_table.h"

class Panel;

class Form1 : public QWidget, public View, public WindowGeometry {
public:
    explicit Form1(QWidget *parent = nullptr);
    ~Form1() override;

    // Events reach the panel from now on.
    void attach(Panel *panel) { panel_ = panel; }
    QWidget *control(std::string_view name) const;

    void setCaption(std::string_view control, std::string_view text) override;
    void setVisible(std::string_view control, bool visible) override;
    std::string text(std::string_view control) const override;
    void setText(std::string_view control, std::string_view text) override;
    void setSelected(std::string_view control) override;
    void setLineState(std::string_view state) override;
    void setLit(std::string_view control, bool lit) override;
    void setHint(std::string_view control, std::string_view text) override;
    using QWidget::setVisible;

    float width() const override;
    float height() const override;
    void setLeft(float twips) override;
    void setTop(float twips) override;
    void setHeight(float twips) override;
    float screenWidth() const override;
    float screenHeight() const override;

    // Captions longer than this are cut for display only: a one-line label
    // shows far fewer characters, and laying out a flood's worth of text on
    // every arrival would make the window crawl.
    static constexpr qsizetype kDisplayLimit = 1024;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // A window that loses the mouse to another window never sees the release
    // of a held button: let it go.
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void build();
    void placeOnScreen();
    QWidget *createWidget(const ControlRow &row, QWidget *container);
    QWidget *createButton(const ControlRow &row, QWidget *container);
    QWidget *createLabel(const ControlRow &row, QWidget *container);
    QWidget *createFrame(const ControlRow &row, QWidget *container);
    QWidget *createOption(const ControlRow &row, QWidget *container);
    QWidget *createImage(QWidget *container);
    void setTabOrder();

    std::map<std::string, QWidget *, std::less<>> controls_;
    std::vector<const ControlRow *> lines_;
    // The focus policy of every control Tab reaches while it is on the window.
    std::map<QWidget *, Qt::FocusPolicy> tabPolicies_;
    Panel *panel_ = nullptr;
    float setHeight_ = 0.0F; // the last outer height set, to read back exactly
    int left_ = 0;           // where the window belongs, in pixels
    int top_ = 0;
    std::optional<QPoint> placedAt_; // where the panel last put it
    // Key preview sees a propagated key event once per parent; these tell a
    // propagation from a new key press.
    const QEvent *lastKey_ = nullptr;
    QPointer<QWidget> lastKeyReceiver_;
    unsigned long lastKeyTime_ = 0;
};

// Twips to logical pixels, 15 to one.
int twipsToPixels(double twips);
