// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every label of the window: plain text in its back colour, optionally with
// a single black border, and a click (press and release inside it with the
// left button) when it has a command. A label with a command takes the
// focus from Tab in its place of the tab order, and Space or Enter then
// does what a click does. Its accessible (panel_accessibles.h) reads its
// text and offers the click as a press action.

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <functional>

#include "ui/panel_style.h"

class ClickLabel : public QLabel {
public:
    std::function<void()> onClick;
    bool border = false; // a single black line on all four sides

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QLabel::paintEvent(event);
        QPainter painter(this);
        if (border)
            fillEdge(&painter, rect(), Qt::black, Qt::black);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect();
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        const int key = event->key();
        if (!onClick || (key != Qt::Key_Space && key != Qt::Key_Return && key != Qt::Key_Enter))
            return QLabel::keyPressEvent(event);
        event->accept();
        if (!event->isAutoRepeat())
            onClick();
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        pressedInside_ = event->button() == Qt::LeftButton;
        QLabel::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        const bool click = pressedInside_ && event->button() == Qt::LeftButton
            && rect().contains(event->position().toPoint());
        pressedInside_ = false;
        QLabel::mouseReleaseEvent(event);
        if (click && onClick)
            onClick();
    }
    // The second press of a double-click is no second click: the label
    // sends its command once, as a click and then a double-click event.
    // (Qt would otherwise take it for a press.)
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        pressedInside_ = false;
        event->accept();
    }

private:
    bool pressedInside_ = false;
};
