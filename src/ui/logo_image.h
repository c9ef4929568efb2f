// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The logo: a picture whose double-click opens the window to its full
// height. Its accessible offers that as an action, from any height, and the
// way back to the compact height.

#include <QLabel>
#include <QMouseEvent>

#include <functional>

class LogoImage : public QLabel {
public:
    std::function<void()> onDoubleClick;
    std::function<void()> onOpenFullHeight;
    std::function<void()> onBackToCompact;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        QLabel::mouseDoubleClickEvent(event);
        if (event->button() == Qt::LeftButton && onDoubleClick)
            onDoubleClick();
    }
};
