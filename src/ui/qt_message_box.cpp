// SPDX-License-Identifier: GPL-3.0-or-later
// QMessageBox glue.

#include "ui/qt_message_box.h"

#include <QGuiApplication>
#include <QMessageBox>

void QtMessageBox::warning(std::string_view message)
{
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    // A warning that comes while a box is open (the line flapping with
    // nobody at the panel) replaces its text: boxes never nest, so a night
    // of outages cannot pile up windows, memory and stack.
    if (open_) {
        open_->setText(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), text, QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    open_ = &box;
    box.exec();
    open_ = nullptr;
}
