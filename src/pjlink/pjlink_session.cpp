// SPDX-License-Identifier: GPL-3.0-or-later
// A set is sent with "wait": false, so that while another client leases the
// line it is refused at once and asked again here, up to a limit: a request
// left queued past the limit would still reach the projector after the
// controller was told ERR3.

#include "pjlink/pjlink_session.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonObject>

#include "owner/owner_service.h"
#include "pjlink/pjlink_answers.h"
#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"
#include "core/timer.h"

PjlinkSession::PjlinkSession(OwnerService &service, const LiveState &state, const PjlinkSettings &settings,
    Timer &idle, Timer &retry, Peer peer, std::function<void(const std::string &)> send,
    std::function<void()> closeConnection, std::function<void(const std::string &)> log)
    : service_(service), state_(state), settings_(settings), idle_(idle), retry_(retry),
      peer_(std::move(peer)), send_(std::move(send)), close_(std::move(closeConnection)), log_(std::move(log))
{
    authenticated_ = peer_.password.empty();
    client_ = service_.connect(
        [this](const std::string &line) { ownerReplied(line); }, "PJLink " + peer_.address);
    idle_.setInterval(kIdleMs);
    idle_.setOnTick([this] { close(); });
    retry_.setInterval(kRetryMs);
    retry_.setOnTick([this] {
        retry_.setEnabled(false);
        sendCommand();
    });
}

PjlinkSession::~PjlinkSession()
{
    idle_.setEnabled(false);
    retry_.setEnabled(false);
    service_.disconnect(client_);
}

std::string PjlinkSession::greeting(const std::string &password, const std::string &random)
{
    return password.empty() ? std::string("PJLINK 0\r") : "PJLINK 1 " + random + "\r";
}

std::string PjlinkSession::digest(const std::string &random, const std::string &password)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(random + password), QCryptographicHash::Md5)
        .toHex()
        .toStdString();
}

void PjlinkSession::start()
{
    send_(greeting(peer_.password, peer_.random));
    idle_.setEnabled(true);
}

void PjlinkSession::receive(std::string_view bytes)
{
    if (closed_)
        return;
    reader_.feed(bytes);
    next();
}

void PjlinkSession::next()
{
    while (!closed_ && !busy_) {
        if (reader_.overflowed(!authenticated_))
            return close();
        const auto line = reader_.nextLine(!authenticated_);
        if (!line)
            return;
        handle(*line);
    }
}

void PjlinkSession::handle(const std::string &line)
{
    idle_.setEnabled(true); // 30 s from the last request
    std::string_view request = line;
    if (!authenticated_) {
        // The digest and the first command come as one line.
        const std::string expected = digest(peer_.random, peer_.password);
        if (request.size() < expected.size()
            || !QByteArray::fromStdString(std::string(request.substr(0, expected.size())))
                    .toLower()
                    .toStdString()
                    .starts_with(expected)) {
            send_("PJLINK ERRA\r");
            return close();
        }
        request.remove_prefix(expected.size());
        authenticated_ = true;
    }
    const PjlinkParsed parsed = parsePjlinkLine(request);
    if (parsed.kind == PjlinkLine::Garbage)
        return close();
    if (parsed.kind == PjlinkLine::Undefined)
        return send_(pjlinkReply(parsed.request, "ERR1"));
    const PjlinkAnswer answer = pjlinkAnswer(parsed.request, state_, settings_);
    if (answer.commands.empty())
        return send_(pjlinkReply(parsed.request, answer.value));
    current_ = parsed.request;
    commands_ = answer.commands;
    busy_ = true;
    idle_.setEnabled(false);
    std::string names;
    for (const std::string &command : commands_)
        names += (names.empty() ? "" : ", ") + command;
    log_("PJLink " + peer_.address + ": " + current_.command + " " + current_.parameter + ": " + names);
    retries_ = 0;
    sendCommand();
}

void PjlinkSession::sendCommand()
{
    QJsonObject request;
    request[field::kId] = ++requestId_;
    request[field::kCommand] = QString::fromStdString(commands_.front());
    request[field::kWait] = false;
    service_.receive(client_, jsonLine(request).toStdString());
}

void PjlinkSession::ownerReplied(const std::string &line)
{
    const QJsonObject reply = jsonObject(line);
    // Only the answer to the request on its way; the owner also tells every
    // client of a change of the line's speed.
    if (!busy_ || reply.value(field::kId).toInt(-1) != requestId_)
        return;
    const bool written = reply.value(field::kWritten).toBool();
    const QString error = reply.value(field::kError).toString();
    if (!written) {
        if (errorIs(error, error_text::kLineLeased) && retries_ * kRetryMs < kLeaseWaitMs) {
            ++retries_;
            retry_.setEnabled(true);
            return;
        }
        return answer("ERR3"); // leased past the wait, the line down, or too much queued
    }
    const QByteArray bytes = QByteArray::fromHex(reply.value(field::kReplyHex).toString().toLatin1());
    if (!bytes.contains('\x06')) {
        // The line went down under it: unavailable. Refused with ERR, or
        // no answer at all: the projector failed it.
        const bool lineDown = !error.isEmpty() && !errorIs(error, error_text::kNoReply)
            && !errorIs(error, error_text::kCutOff);
        return answer(lineDown ? "ERR3" : "ERR4");
    }
    commands_.erase(commands_.begin());
    if (commands_.empty())
        return answer("OK");
    retries_ = 0;
    sendCommand();
}

void PjlinkSession::answer(const std::string &value)
{
    busy_ = false;
    commands_.clear();
    send_(pjlinkReply(current_, value));
    idle_.setEnabled(true);
    next();
}

void PjlinkSession::close()
{
    if (closed_)
        return;
    closed_ = true;
    busy_ = false;
    idle_.setEnabled(false);
    retry_.setEnabled(false);
    close_();
}
