// SPDX-License-Identifier: GPL-3.0-or-later
// The MAC told is that of the interface on the sender's network, which is the
// one the controller can reach this machine by (00:00:00:00:00:00 on loopback).
// Where the interfaces cannot be listed (the service's unit allows no netlink
// sockets), it is the first network card's from /sys.

#include "pjlink/pjlink_search.h"

#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QNetworkInterface>

std::optional<std::string> pjlinkSearchReply(std::string_view datagram, const std::string &mac)
{
    if (datagram.ends_with('\n'))
        datagram.remove_suffix(1);
    if (datagram != "%2SRCH\r")
        return std::nullopt;
    return "%2ACKN=" + mac + "\r";
}

namespace {

constexpr char kNoMac[] = "00:00:00:00:00:00";

std::string firstCardsMac()
{
    const QDir cards(QStringLiteral("/sys/class/net"));
    for (const QString &card : cards.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile file(cards.filePath(card) + QStringLiteral("/address"));
        if (card == QStringLiteral("lo") || !file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray mac = file.readAll().trimmed().toUpper();
        if (mac.size() == 17 && mac != kNoMac)
            return mac.toStdString();
    }
    return kNoMac;
}

std::string macFor(const QHostAddress &sender)
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    if (interfaces.isEmpty() && !sender.isLoopback())
        return firstCardsMac();
    for (const QNetworkInterface &interface : interfaces) {
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            if (sender.isInSubnet(entry.ip(), entry.prefixLength())) {
                const QString mac = interface.hardwareAddress().toUpper();
                return mac.size() == 17 ? mac.toStdString() : std::string(kNoMac);
            }
        }
    }
    return kNoMac;
}

} // namespace

PjlinkSearch::PjlinkSearch(QObject *parent) : QObject(parent)
{
    connect(&socket_, &QUdpSocket::readyRead, this, &PjlinkSearch::read);
}

bool PjlinkSearch::listen(const PjlinkListen &where, std::string &whyNot)
{
    const QHostAddress address(QString::fromStdString(where.address));
    if (address.isNull()) {
        whyNot = "pjlink-search: \"" + where.address + "\" is not an IP address";
        return false;
    }
    if (!socket_.bind(
            address, where.port, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        whyNot = "cannot listen for PJLink searches on " + where.address + ":" + std::to_string(where.port)
            + ": " + socket_.errorString().toStdString();
        return false;
    }
    return true;
}

void PjlinkSearch::read()
{
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_.receiveDatagram(64);
        const QByteArray bytes = datagram.data();
        QHostAddress sender = datagram.senderAddress();
        bool mapped = false;
        const quint32 ipv4 = sender.toIPv4Address(&mapped);
        if (mapped)
            sender = QHostAddress(ipv4);
        const auto reply = pjlinkSearchReply(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), macFor(sender));
        if (reply && datagram.senderPort() > 0)
            socket_.writeDatagram(reply->data(), static_cast<qint64>(reply->size()), sender,
                static_cast<quint16>(datagram.senderPort()));
    }
}
