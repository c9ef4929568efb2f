// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The owner's socket: QLocalServer glue that hands each client's bytes to
// the service and its lines back. A socket file left by an owner that was
// killed is found out by connecting (nobody answers) and removed; a live
// owner's socket is never touched. A client that stops reading is dropped
// before what waits for it grows past a bound, so it cannot stall the others.

#include <QLocalServer>
#include <QObject>

#include <string>

class OwnerService;

class OwnerServer : public QObject {
public:
    static constexpr qint64 kUnreadLimit = 1 << 20;
    static constexpr int kClientLimit = 256;

    explicit OwnerServer(OwnerService &service, QObject *parent = nullptr);
    ~OwnerServer() override;

    // Listens at `path` (owner-only permissions); false with the reason, for
    // instance when another owner answers there.
    bool listen(const std::string &path, std::string &whyNot);
    // Stops listening, drops every client, removes the socket file.
    void stop();
    bool listening() const { return server_.isListening(); }
    const std::string &path() const { return path_; }

private:
    void accept();

    OwnerService &service_;
    QLocalServer server_;
    std::string path_;
    int connected_ = 0;
};

