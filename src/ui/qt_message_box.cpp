// SPDX-License-Identifier: GPL-3.0-or-later
// QMessageBox glue.

#include "ui/qt_message_box.h"

#include <QMessageBox>

#include "ui/panel_accessibles.h"

void QtMessageBox::warning(std::string_view message)
{
    show(message, false);
}

void QtMessageBox::lineWarning(std::string_view message)
{
    if (!quiet_ || !quiet_())
        show(message, true);
}

void QtMessageBox::lineBack()
{
    // Closed as if OK was pressed: the line it was about is up again, and
    // the status line says so.
    if (open_ && aboutLine_)
        open_->done(QMessageBox::Ok);
}

void QtMessageBox::show(std::string_view message, bool aboutLine)
{
    const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
    // A warning that comes while a box is open (the line flapping with
    // nobody at the panel) replaces its text: boxes never nest, so a night
    // of outages cannot pile up windows, memory and stack.
    aboutLine_ = aboutLine;
    if (open_) {
        open_->setText(text);
        return;
    }
    QMessageBox box(
        QMessageBox::Warning, QString::fromUtf8(kApplicationDisplayName), text, QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    open_ = &box;
    box.exec();
    open_ = nullptr;
    aboutLine_ = false;
}
