// SPDX-License-Identifier: GPL-3.0-or-later
// What each program says of one line event: the panel in its boxes and
// title (it names F5 and itself), qv550d in its journal (no key, no window).
// One row an event; the account of the failure itself is tested with its kind.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "owner/journal.h"
#include "panel/panel_line_words.h"

namespace {

LineOutage outage(LineFailureKind kind, bool afterLoss, LineKind line, bool atStartup = false)
{
    LineOutage o;
    o.why.kind = kind;
    o.why.label = line == LineKind::Network ? "COM1 (tcp://127.0.0.1:7001)" : "/dev/ttyUSB0";
    o.why.port = 7001;
    o.why.holder = "minicom (process 42)";
    o.afterLoss = afterLoss;
    o.atStartup = atStartup;
    o.line = line;
    return o;
}

TEST(LineWords, AnOutageInThePanelsWordsAndInTheServicesOwn)
{
    using K = LineFailureKind;
    struct Row {
        LineOutage outage;
        std::string panel;
        std::string daemon;
    };
    const std::vector<Row> rows = {
        {outage(K::DeviceRemoved, true, LineKind::Device),
            "/dev/ttyUSB0: the device went away\n\nThe panel opens the port again by itself as soon as the "
            "device "
            "is back.",
            "/dev/ttyUSB0: the device went away. qv550d opens the port again as soon as the device is back."},
        // At start-up the account keeps its full stop; after it, the panel
        // goes on in a paragraph of its own.
        {outage(K::InUse, false, LineKind::Device, true),
            "/dev/ttyUSB0 is in use by minicom (process 42). Close that program to use the port here.\n\nThe "
            "panel "
            "keeps trying and opens the port by itself as soon as it can.",
            "/dev/ttyUSB0 is in use by minicom (process 42). Close that program to use the port here. qv550d "
            "keeps "
            "trying and opens the port as soon as it can."},
        {outage(K::InUse, false, LineKind::Device),
            "/dev/ttyUSB0 is in use by minicom (process 42). Close that program to use the port here\n\nThe "
            "panel "
            "keeps trying and opens the port by itself as soon as it can.",
            "/dev/ttyUSB0 is in use by minicom (process 42). Close that program to use the port here. qv550d "
            "keeps "
            "trying and opens the port as soon as it can."},
        {outage(K::ConnectionClosed, true, LineKind::Network),
            "COM1 (tcp://127.0.0.1:7001): the connection was closed by the far end\n\nThe panel connects "
            "again by "
            "itself as soon as the server answers.",
            "COM1 (tcp://127.0.0.1:7001): the connection was closed by the far end. qv550d connects again as "
            "soon "
            "as the server answers."},
        {outage(K::ConnectionRefused, false, LineKind::Network),
            "COM1 (tcp://127.0.0.1:7001): the connection was refused (nothing listens on port 7001)\n\nThe "
            "panel "
            "keeps trying and connects by itself as soon as the server answers.",
            "COM1 (tcp://127.0.0.1:7001): the connection was refused (nothing listens on port 7001). qv550d "
            "keeps "
            "trying and connects as soon as the server answers."},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(PanelLineWords::outageWarning(row.outage), row.panel);
        EXPECT_EQ(Journal::outageText(row.outage, "qv550d"), row.daemon);
    }
}

TEST(LineWords, TheLinesStateInTheTitleAndInTheJournal)
{
    struct Row {
        LinePhase phase;
        bool used;
        std::string panel;
        std::string daemon;
    };
    const std::vector<Row> rows = {
        {LinePhase::Open, true, "", "the line is up"}, {LinePhase::Settling, true, "", "the line is up"},
        {LinePhase::Connecting, false, "COM1 (x) connecting", "connecting to COM1 (x)"},
        {LinePhase::Waiting, true, "COM1 (x) waiting (F5 tries now)", "waiting for COM1 (x)"},
        {LinePhase::Retrying, true, "COM1 (x) waiting (F5 tries now)", "waiting for COM1 (x)"},
        {LinePhase::Closed, true, "COM1 (x) closed", "COM1 (x) closed"},
        {LinePhase::Closed, false, "", ""}, // never used: nothing to say
    };
    for (const Row &row : rows) {
        EXPECT_EQ(PanelLineWords::lineStateText(row.phase, "COM1 (x)", row.used), row.panel);
        EXPECT_EQ(Journal::lineStateText(row.phase, "COM1 (x)", row.used), row.daemon);
    }
}

TEST(LineWords, TheFirstCommandNotSentSaysWhyAndWhatHappensNext)
{
    LineFailure notOpen;
    notOpen.kind = LineFailureKind::NotOpen;
    notOpen.label = "COM1";
    const LineOutage down = outage(LineFailureKind::DeviceRemoved, true, LineKind::Device);
    EXPECT_EQ(PanelLineWords::notSentWarning(notOpen, &down),
        "Nothing was sent: COM1 is not open.\n\n/dev/ttyUSB0: the device went away. The panel opens the port "
        "again "
        "by itself as soon as the device is back. Until then commands are not sent.");
    EXPECT_EQ(PanelLineWords::notSentWarning(notOpen, nullptr),
        "Nothing was sent: COM1 is not open.\n\nChoose COM1 or COM2 in the port settings (the COM button) to "
        "open "
        "it.");
}

TEST(LineWords, TheJournalSaysEachStateOnceAtItsPriority)
{
    std::ostringstream out;
    Journal journal(out, "qv550d", true);
    journal.phaseEntered(LinePhase::Waiting, "/dev/x", true);
    journal.phaseEntered(LinePhase::Retrying, "/dev/x", true); // a try: the same state
    journal.phaseEntered(LinePhase::Waiting, "/dev/x", true);
    journal.lineBack("/dev/x", 1, true);
    journal.phaseEntered(LinePhase::Settling, "/dev/x", true);
    journal.phaseEntered(LinePhase::Open, "/dev/x", true);
    EXPECT_EQ(out.str(),
        "<4>qv550d: waiting for /dev/x\n"
        "<6>qv550d: /dev/x is open again\n"
        "<6>qv550d: the line is up\n");
}

} // namespace
