// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The MQTT client as the bridge uses it: publish, subscribe, and hear of a
// (re)connection and of messages. Implemented on libmosquitto for the
// service and by an in-memory double for tests. A link keeps connecting by
// itself; what it publishes while not connected is dropped (the bridge
// publishes everything again on connecting).

#include <functional>
#include <string>

class MqttLink {
public:
    virtual ~MqttLink() = default;
    virtual void publish(const std::string &topic, const std::string &payload, bool retain) = 0;
    virtual void subscribe(const std::string &topic) = 0;
    virtual void unsubscribe(const std::string &topic) = 0;
    virtual bool connected() const = 0;

    std::function<void()> onConnected;
    std::function<void(const std::string &topic, const std::string &payload)> onMessage;
};
