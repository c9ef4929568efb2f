// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The panel window's outer geometry and the screen's size, in twips (1440 to
// the inch, 15 to a logical pixel), as the start-up and window-size logic
// read and set them.

class WindowGeometry {
public:
    virtual ~WindowGeometry() = default;
    virtual float width() const = 0;
    virtual float height() const = 0;
    virtual void setLeft(float twips) = 0;
    virtual void setTop(float twips) = 0;
    virtual void setHeight(float twips) = 0;
    virtual float screenWidth() const = 0;
    virtual float screenHeight() const = 0;
};
