// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The warning box on QMessageBox: warning icon, one OK button, the
// application's title, and the message shown as plain text. One box at a
// time: a later warning replaces the text of the one on screen.

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "core/message_box.h"

class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget *parent) : parent_(parent) { }
    void warning(std::string_view message) override;

    // The box on screen, if any.
    QMessageBox *openBox() const { return open_; }

private:
    QWidget *parent_;
    QPointer<QMessageBox> open_;
};
