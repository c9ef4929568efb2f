// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the logic may change on the window, by control name. The window
// implements it with widgets; tests implement it with a recorder.
// Texts are UTF-8; everything derived from received bytes is plain ASCII.

#include <string>
#include <string_view>

// The controls whose role the logic knows, by the names the window gives
// them; everything else is named by the tables.
namespace role {
inline constexpr std::string_view kStatusLine = "Label22";   // the data panel's status line
inline constexpr std::string_view kSentLine = "Label11";     // the monitor line of what was sent (TXD)
inline constexpr std::string_view kReceivedLine = "Label12"; // the monitor line of what arrived (RXD)
inline constexpr std::string_view kCommandBox = "Text1";     // the box for a line typed by hand
} // namespace role

class View {
public:
    virtual ~View() = default;
    virtual void setCaption(std::string_view control, std::string_view text) = 0;
    virtual void setVisible(std::string_view control, bool visible) = 0;
    // The text of a text box (Text1), and setting it.
    virtual std::string text(std::string_view control) const = 0;
    virtual void setText(std::string_view control, std::string_view text) = 0;
    // Selects an option button by program, as its Value := True would.
    virtual void setSelected(std::string_view control) = 0;
    // How the line stands when it is not up ("COM1 (/dev/ttyUSB0) waiting"),
    // shown beside the window's own caption; empty while it is up.
    virtual void setLineState(std::string_view state) = 0;
    // Shows a button as standing for what the projector does now (the live
    // state), without moving or resizing anything.
    virtual void setLit(std::string_view /*control*/, bool /*lit*/) { }
    // A text shown on pointing at a control, and read with it.
    virtual void setHint(std::string_view /*control*/, std::string_view /*text*/) { }
};
