// SPDX-License-Identifier: GPL-3.0-or-later
// A line shared the way a venue uses it, with the real programs: replies
// that must fit their query, tails that must not join the next reply, waits
// that end within their limit and say why, and sequences that queue.

#include <QElapsedTimer>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "event_loop.h"
#include "owner_processes.h"
#include "processes.h"

namespace {

const QString kPort = QStringLiteral("--port");
const QString kJson = QStringLiteral("--json");

// A projector that mixes bytes into every reply: no reply is its query's
// answer, directly or through the owner, and the owner's state takes none.
TEST(FairLine, AReplyThatDoesNotFitItsQueryIsNoSuccess)
{
    ProjectorProcess noisy({QStringLiteral("--noise"), QStringLiteral("100"),
        QStringLiteral("--random-state"), QStringLiteral("7")});
    ASSERT_FALSE(noisy.device().isEmpty());
    int misfits = 0;
    const auto check = [&misfits](const CliCall &run, const char *via) {
        const QJsonObject reply = run.json();
        ASSERT_FALSE(reply.isEmpty()) << via << ": " << run.out << run.err;
        EXPECT_EQ(reply[QStringLiteral("via")].toString().toStdString(), via);
        if (run.status == 0) {
            // A stray byte after the reply's CR leaves the reply itself whole.
            EXPECT_EQ(reply[QStringLiteral("reply_hex")].toString(), QStringLiteral("38300D")) << run.out;
            return;
        }
        EXPECT_EQ(run.status, 1) << run.err;
        if (run.err.find("does not fit CR0, whose answer is two hex digits and a CR") == std::string::npos)
            return;
        ++misfits;
        EXPECT_TRUE(reply[QStringLiteral("complete")].toBool()) << run.out;
        EXPECT_TRUE(reply[QStringLiteral("status")].isNull()) << run.out;
        EXPECT_FALSE(reply[QStringLiteral("reply_hex")].toString().isEmpty()) << run.out; // the bytes shown
        EXPECT_EQ(reply[QStringLiteral("error")].toString().toStdString() + "\n", run.err.substr(11));
    };
    for (int i = 0; i < 3; ++i)
        check(callCli({kPort, noisy.device(), kJson, QStringLiteral("status")}), "port");
    EXPECT_GE(misfits, 2);

    misfits = 0;
    OwnerDaemon owner(noisy.device());
    ASSERT_TRUE(owner.serving()) << owner.said();
    for (int i = 0; i < 3; ++i)
        check(callCli({kPort, noisy.device(), kJson, QStringLiteral("status")}), "owner");
    EXPECT_GE(misfits, 2);
    // Nothing that did not fit became the owner's power status.
    const CliCall state = callCli({kPort, noisy.device(), kJson, QStringLiteral("state")});
    const QJsonObject power = state.json()[QStringLiteral("status")].toObject();
    EXPECT_FALSE(power[QStringLiteral("status")].isString()) << state.out;
}

// The reproduction: a slow projector's lamp hours cut off, then the power
// status asked 0.3 s later. The tail is taken in before the next call, so
// the answer is the projector's own "80".
TEST(FairLine, ATailStillComingNeverJoinsTheNextReply)
{
    for (const bool throughOwner : {false, true}) {
        ProjectorProcess slow({QStringLiteral("--pieces"), QStringLiteral("1"), QStringLiteral("--gap"),
            QStringLiteral("200")});
        ASSERT_FALSE(slow.device().isEmpty());
        std::unique_ptr<OwnerDaemon> owner;
        if (throughOwner) {
            owner = std::make_unique<OwnerDaemon>(slow.device(), QStringList{QStringLiteral("--no-poll")});
            ASSERT_TRUE(owner->serving()) << owner->said();
        }
        const CliCall cut
            = callCli({kPort, slow.device(), kJson, QStringLiteral("send"), QStringLiteral("CR3")});
        EXPECT_EQ(cut.status, 1) << cut.err;
        EXPECT_NE(cut.err.find("cut off"), std::string::npos) << cut.err;
        runFor(300);
        const CliCall status = callCli({kPort, slow.device(), kJson, QStringLiteral("status")});
        EXPECT_EQ(status.status, 0) << (throughOwner ? "owner: " : "port: ") << status.out << status.err;
        EXPECT_EQ(status.json()[QStringLiteral("reply_hex")].toString(), QStringLiteral("38300D"))
            << status.out;
        EXPECT_EQ(status.json()[QStringLiteral("status")].toString(), QStringLiteral("Stand by"))
            << status.out;
    }
}

} // namespace
