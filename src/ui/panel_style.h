// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window's one style: Fusion, except that a push button's whole face is
// filled with exactly its back colour inside a classic two-line raised edge,
// which turns sunken while the button is down. Fusion's own buttons lighten
// the face and paint a gradient over it, and pale faces then look white, which
// loses the panel's colour coding.

#include <QProxyStyle>

// A one-pixel frame just inside `rect`, as filled strips rather than a
// stroked line, so it covers whole device pixels at any scale.
void fillEdge(QPainter *painter, const QRect &rect, const QColor &topLeft, const QColor &bottomRight);

class PanelStyle : public QProxyStyle {
public:
    PanelStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
        const QWidget *widget = nullptr) const override;
};
