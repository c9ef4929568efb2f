// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What assistive tools are given for the window's own kinds of widget, in
// place of Qt's defaults where those fall short: the labels, the frames that
// group controls, the logo and the application itself.

#include <QString>

class QObject;
class QAccessibleInterface;

// The application's name as a screen reader announces it. Not set as Qt's
// display name, which X11 would append to the window's caption.
inline constexpr char kApplicationDisplayName[] = "QV550 Control";

// Installed once, before the first widget is asked for: the accessibles of
// the window's labels (their text, as name and through the Text interface,
// with a press action where a click sends a command), of its frames (groups
// named by their caption, not top-level windows), of the logo (its
// double-click as an action) and of the application.
QAccessibleInterface *panelAccessible(const QString &className, QObject *object);
