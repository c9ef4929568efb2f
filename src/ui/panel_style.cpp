// SPDX-License-Identifier: GPL-3.0-or-later
// The edge is drawn in the system's 3D colours, whatever the face: white and
// light grey above and left, black and dark grey below and right; swapped
// when pressed. Lines are one logical pixel wide, so the edge scales with the
// screen and the face stays solid at any scale.

#include "ui/panel_style.h"

#include <QAbstractButton>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

void fillEdge(QPainter *painter, const QRect &r, const QColor &topLeft, const QColor &bottomRight)
{
    painter->fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
    painter->fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
    painter->fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter->fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

PanelStyle::PanelStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{ }

void PanelStyle::drawPrimitive(
    PrimitiveElement element, const QStyleOption *option, QPainter *painter, const QWidget *widget) const
{
    if (element == PE_PanelButtonCommand) {
        // A lit button (the live state: what the projector does now) stays
        // pushed in, its face in its caption's colour (the caption then takes
        // the face's): seen across a room at any scale, where a thin bar read
        // as underlined text, and within the button's own box.
        const bool lit = widget && widget->property("lit").toBool();
        const bool down = lit || (option->state & (State_Sunken | State_On));
        const QPalette &palette = option->palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->fillRect(option->rect, palette.button());
        const QColor white(0xFF, 0xFF, 0xFF), light(0xE3, 0xE3, 0xE3), dark(0x80, 0x80, 0x80),
            black(0x00, 0x00, 0x00);
        if (down) {
            fillEdge(painter, option->rect, black, white);
            fillEdge(painter, option->rect.adjusted(1, 1, -1, -1), dark, light);
        } else {
            fillEdge(painter, option->rect, white, black);
            fillEdge(painter, option->rect.adjusted(1, 1, -1, -1), light, dark);
        }
        if (lit)
            painter->fillRect(option->rect.adjusted(2, 2, -2, -2), palette.color(QPalette::ButtonText));
        painter->restore();
        return;
    }
    if (element == PE_FrameFocusRect && qobject_cast<const QAbstractButton *>(widget)) {
        // A dotted line inside the edge, clear of the face's rim.
        painter->save();
        painter->setPen(QPen(option->palette.color(QPalette::ButtonText), 1, Qt::DotLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}
