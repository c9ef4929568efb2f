// SPDX-License-Identifier: GPL-3.0-or-later
// QSerialPortInfo probes the ports once; it never lists pseudo-terminals.

#include "cli/serial_ports.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <ostream>

namespace {

std::string orDash(const QString &text)
{
    return text.isEmpty() ? std::string("-") : "\"" + text.toStdString() + "\"";
}

} // namespace

int listSerialPorts(std::ostream &out)
{
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    const QFileInfoList links = byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports) {
        const QString location = port.systemLocation();
        QStringList names;
        for (const QFileInfo &link : links) {
            if (link.canonicalFilePath() == QFileInfo(location).canonicalFilePath())
                names << link.absoluteFilePath();
        }
        out << location.toStdString() << "  "
            << (names.isEmpty() ? std::string("-") : names.join(u' ').toStdString()) << "  "
            << orDash(port.description()) << "  " << orDash(port.manufacturer()) << "  "
            << orDash(port.serialNumber()) << '\n';
    }
    return static_cast<int>(ports.size());
}
