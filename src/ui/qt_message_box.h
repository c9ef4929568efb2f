#pragma once
// The warning box on QMessageBox: warning icon, one OK button, the
// application's title, and the message shown as plain text.

#include <QWidget>

#include "core/message_box.h"

class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget *parent) : parent_(parent) { }
    void warning(std::string_view message) override;

private:
    QWidget *parent_;
};
