// QMessageBox glue.

#include "ui/qt_message_box.h"

#include <QGuiApplication>
#include <QMessageBox>

void QtMessageBox::warning(std::string_view message)
{
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
        QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())), QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
