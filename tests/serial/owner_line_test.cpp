// SPDX-License-Identifier: GPL-3.0-or-later
// The panel's line through an owner, against a real local socket standing in
// for the owner: replies' bytes arrive as the line's own, and an owner that
// sends a line without end is not followed into memory but lost.

#include <gtest/gtest.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <optional>
#include <string>

#include "event_loop.h"
#include "core/line_failure.h"
#include "serial/owner_line.h"

namespace {

TEST(OwnerLine, RepliesArriveAsBytesAndALineWithoutEndLosesTheOwner)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("owner.sock"));
    QLocalServer owner;
    ASSERT_TRUE(owner.listen(path));
    OwnerLine line(path.toStdString(), "dev_ttyUSB0");
    std::string arrived;
    std::optional<LineFailure> lost;
    line.setEvents({[&] { arrived += line.readAll(); }, [] {}, [&](const LineFailure &why) { lost = why; }});
    line.open(LineSettings{});
    ASSERT_TRUE(owner.waitForNewConnection(5000));
    QLocalSocket *client = owner.nextPendingConnection();
    ASSERT_TRUE(runUntil([&] { return line.isConnected(); }));

    // A reply in two pieces, then one that is no reply (an event).
    client->write("{\"id\":1,\"reply_hex\":\"3830");
    client->write("0D\"}\n{\"event\":\"settings\",\"settings\":\"9600,N,8,1\"}\n");
    ASSERT_TRUE(runUntil([&] { return arrived == "80\r"; })) << arrived;
    EXPECT_FALSE(lost);

    client->write(QByteArray((1 << 20) + 1, 'x'));
    ASSERT_TRUE(runUntil([&] { return lost.has_value(); }, 5000));
    EXPECT_EQ(lost->kind, LineFailureKind::OwnerWentAway);
    EXPECT_EQ(arrived, "80\r");
}

} // namespace
