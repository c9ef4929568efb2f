// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The warning box on QMessageBox: warning icon, one OK button, the
// application's name as its title, and the message shown as plain text. One
// box at a time: a later warning replaces the text of the one on screen. A
// box about the line closes by itself when the line is back.

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>

#include "core/message_box.h"

class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget *parent) : parent_(parent) { }
    void warning(std::string_view message) override;
    void lineWarning(std::string_view message) override;
    void lineBack() override;

    // The box on screen, if any.
    QMessageBox *openBox() const { return open_; }
    // Line warnings go unshown while `quiet` says so: the panel that lost
    // another owner's line opens it itself at its next try, and its status
    // line says so; a box would only block it.
    void setLineWarningsQuietWhile(std::function<bool()> quiet) { quiet_ = std::move(quiet); }

private:
    void show(std::string_view message, bool aboutLine);

    QWidget *parent_;
    QPointer<QMessageBox> open_;
    bool aboutLine_ = false; // what the open box says is about the line
    std::function<bool()> quiet_;
};
