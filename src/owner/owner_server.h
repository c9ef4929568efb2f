// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The owner's socket: a QLocalServer that takes each connection as a plain
// descriptor, hands its bytes to the service and writes its lines back. A
// client may close its sending side once it has asked (as socat does at the
// end of its input): its replies still reach it, and it is closed once it
// has them. A socket file left by an owner that was killed is found out by
// connecting (nobody answers) and removed; a live owner's socket is never
// touched. A client that stops reading is dropped before what waits for it
// grows past a bound, so it cannot stall the others.

#include <QLocalServer>
#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <string>

class OwnerService;

class OwnerServer : public QObject {
public:
    static constexpr std::size_t kUnreadLimit = 1 << 20;
    static constexpr std::size_t kClientLimit = 256;

    explicit OwnerServer(OwnerService &service, QObject *parent = nullptr);
    ~OwnerServer() override;

    // Listens at `path` (owner-only permissions); false with the reason, for
    // instance when another owner answers there.
    bool listen(const std::string &path, std::string &whyNot);
    // For a system service: the socket's group may connect too. That group
    // is the folder's, given by the folder (set-group-ID) or by the service's
    // own group, never by chown: a hardened unit forbids it. A socket that
    // would get another group is not served.
    void setGroupAccess(bool on);
    // Keeps a second name for the socket in its folder, a link named after
    // the device the line leads to now (deviceLineName()), so a client given
    // that device finds the owner given a link to it. Called again whenever
    // the line has been opened anew (the device may have come back under
    // another node): a stale alias of ours goes, another owner's is left.
    void followDevice(const std::string &device);
    // The line is down: it leads to no device now, and a device that comes
    // up under that node later may be another line's.
    void forgetDevice() { dropAlias(); }
    // Stops listening, drops every client, removes the socket file and the
    // alias.
    void stop();
    bool listening() const { return server_.isListening(); }
    const std::string &path() const { return path_; }

private:
    class Listener : public QLocalServer {
    public:
        std::function<void(int)> onConnection;

    protected:
        void incomingConnection(quintptr descriptor) override { onConnection(static_cast<int>(descriptor)); }
    };
    struct Connection;

    void accept(int descriptor);
    void readFrom(int client);
    void writeTo(int client);
    void send(int client, const std::string &line);
    void closeWhenDone(int client);
    void drop(int client);

    OwnerService &service_;
    Listener server_;
    void dropAlias();

    std::string path_;
    std::string alias_;
    std::map<int, std::unique_ptr<Connection>> connections_;
};
