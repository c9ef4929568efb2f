// SPDX-License-Identifier: GPL-3.0-or-later
// The command catalogue: every row's line with every address, the timer
// profiles, the free command entry and the local actions.

#include "panel_fixture.h"

#include "commands/catalogue.h"
#include "commands/command_handlers.h"

namespace {

using Catalogue = PanelFixture;

TEST_F(Catalogue, PowerOnIsFourBytesAloneAndEightWithAnAddress)
{
    load();
    click("Command17");
    click("Option6"); // 002
    click("Command17");
    click("Option4"); // ALL
    click("Command17");
    click("Option8"); // 004
    click("Command17");
    EXPECT_EQ(serial.writes(), Lines({"C00\r", "A002C00\r", "AFFFC00\r", "A004C00\r"}));
    EXPECT_EQ(serial.writes()[1], std::string("\x41\x30\x30\x32\x43\x30\x30\x0D"));
}

TEST_F(Catalogue, EveryRowSendsOneLineWithTheChosenAddressAndItsProfile)
{
    load();
    for (const AddressOption &address : kAddressOptions) {
        click(std::string(address.control));
        for (const CatalogueEntry &entry : kCatalogue) {
            if (entry.action != LocalAction::None)
                continue;
            timer2->setInterval(1);
            timer4->setInterval(1);
            const auto before = serial.writes().size();
            click(std::string(entry.control));
            ASSERT_EQ(serial.writes().size(), before + 1) << entry.control;
            EXPECT_EQ(serial.writes().back(), std::string(address.prefix) + std::string(entry.code) + "\r")
                << entry.control;
            const int reply = entry.profile == TimerProfile::Reply2000 ? 2000
                : entry.profile == TimerProfile::Matrix5000            ? 5000
                                                                       : 1;
            EXPECT_EQ(timer2->interval(), reply) << entry.control;
            EXPECT_EQ(timer4->interval(), reply == 1 ? 1 : reply + 500) << entry.control;
        }
    }
}

TEST_F(Catalogue, TheMatrixSendsItsWordsNotItsCaptions)
{
    load();
    for (const char *control : {"Command63", "Command66", "Command80", "Command94", "Command75", "Command92"})
        click(control);
    EXPECT_EQ(serial.writes(),
        Lines({"CF INPUT1 DIGITAL\r", "CF INPUT1 YPBPR\r", "CF INPUT3 ANALOG\r", "CF INPUT4 HD-SDI1\r",
            "CF INPUT2 YCBCR\r", "CF INPUT4 S-VIDEO\r"}));
}

TEST_F(Catalogue, TitleLabelsAndImagePresetsSendTheirReads)
{
    load();
    for (const char *control : {"Label7", "Command40", "Command4", "Label15", "Label25", "Command52"})
        click(control);
    EXPECT_EQ(serial.writes(),
        Lines({"CR SOURCE\r", "CF IMAGE CUSTOM1\r", "CF IMAGE STANDPC\r", "CR SRCINP1\r", "CR SRCINP4\r",
            "CR INFPFAIL\r"}));
}

TEST_F(Catalogue, LabelsWithoutAnActionSendNothing)
{
    load();
    for (const char *control : {"Label13", "Label14", "Label20", "Label21", "Label26", "Label9", "Label23"})
        click(control);
    EXPECT_TRUE(serial.writes().empty());
}

TEST_F(Catalogue, AnAddressOptionSendsNothingAndChangesNoLabel)
{
    load();
    view.clearLog();
    click("Option5");
    EXPECT_TRUE(serial.writes().empty());
    EXPECT_TRUE(view.log().empty());
    EXPECT_EQ(state().addressPrefix, "A001");
}

TEST_F(Catalogue, AQueryWithoutProfileKeepsTheIntervalsThePreviousCommandLeft)
{
    load();
    click("Command44");
    EXPECT_EQ(timer2->interval(), 500);
    EXPECT_EQ(timer4->interval(), 1000);
    click("Command39"); // CINEMA
    click("Command44");
    EXPECT_EQ(timer2->interval(), 2000);
    EXPECT_EQ(timer4->interval(), 2500);
    click("Command70");
    click("Command44");
    EXPECT_EQ(timer2->interval(), 5000);
    EXPECT_EQ(timer4->interval(), 5500);
}

TEST_F(Catalogue, MenuOnAndAImageSetCursorPadModeAfterSendingAndMenuOffKeepsIt)
{
    load();
    click("Command23");
    EXPECT_EQ(state().cursorPadMode, 1);
    EXPECT_EQ(timer1->interval(), 200);
    EXPECT_FALSE(timer1->enabled());
    click("Command24");
    EXPECT_EQ(state().cursorPadMode, 1);
    click("Command13");
    EXPECT_EQ(serial.writes(), Lines({"C1C\r", "C1D\r", "C89\r"}));
}

TEST_F(Catalogue, ACursorPadModeIsNotSetWhenTheSendFails)
{
    load();
    serial.failNext(ControlOp::Output, "write refused");
    click("Command13");
    EXPECT_EQ(state().cursorPadMode, 0);
    EXPECT_EQ(state().commandText, "C89\r");
}

TEST_F(Catalogue, TheSameButtonTwiceSendsTwice)
{
    load();
    click("Command18");
    click("Command18");
    EXPECT_EQ(serial.writes(), Lines({"C01\r", "C01\r"}));
}

using CommandEntry = PanelFixture;

TEST_F(CommandEntry, SendSendsTheTextExactlyAsTypedAfterTheAddress)
{
    load();
    typeCommand(" cr PROJH ");
    click("Command95");
    click("Option4");
    typeCommand("A001C00");
    click("Command95");
    click("Command95");
    EXPECT_EQ(serial.writes(), Lines({" cr PROJH \r", "AFFFA001C00\r", "AFFFA001C00\r"}));
    EXPECT_EQ(view.text("Text1"), "A001C00");
    EXPECT_EQ(state().enteredCommand, "A001C00");
    EXPECT_EQ(timer2->interval(), 2000);
}

TEST_F(CommandEntry, AnEmptyEntrySendsTheAddressAndACarriageReturn)
{
    load();
    click("Command95");
    click("Option7");
    click("Command95");
    EXPECT_EQ(serial.writes(), Lines({"\r", "A003\r"}));
}

TEST_F(CommandEntry, ATypedQueryIsDecodedLikeItsButton)
{
    load();
    typeCommand("CR0");
    click("Command95");
    serial.feed("20\r");
    EXPECT_EQ(status(), " Cooling down");
}

TEST_F(CommandEntry, Latin1CharactersGoAsSingleBytes)
{
    load();
    typeCommand("caf\xC3\xA9 \xC2\xB5");
    click("Command95");
    EXPECT_EQ(serial.writes(), Lines({"caf\xE9 \xB5\r"}));
}

TEST_F(CommandEntry, ACharacterNoByteCanCarryIsRefusedAndNothingChanges)
{
    load();
    typeCommand("C00\xE2\x82\xAC"); // the euro sign
    click("Command95");
    EXPECT_TRUE(serial.writes().empty());
    ASSERT_EQ(messageBox.messages.size(), 1U);
    EXPECT_NE(messageBox.messages[0].find("\xE2\x82\xAC"), std::string::npos);
    EXPECT_EQ(state().commandText, "");
    EXPECT_EQ(timer2->interval(), 500);
}

TEST_F(CommandEntry, ClsEmptiesTheEntryAndSendsNothing)
{
    load();
    typeCommand("C00");
    click("Command95");
    click("Command96");
    EXPECT_EQ(view.text("Text1"), "");
    EXPECT_EQ(serial.writes().size(), 1U);
    EXPECT_EQ(state().enteredCommand, "C00");
    EXPECT_EQ(txd(), " C 0 0 CR ");
}

using LocalActions = PanelFixture;

TEST_F(LocalActions, ComShowsTheSettingsAndStartsTheAutoHide)
{
    load();
    click("Command33");
    EXPECT_TRUE(view.visible("Frame8"));
    EXPECT_TRUE(timer3->enabled());
    EXPECT_TRUE(serial.writes().empty());
}

TEST_F(LocalActions, EndClosesThePortFirstAndSendsNothing)
{
    load();
    click("Command16");
    EXPECT_FALSE(serial.portOpen());
    EXPECT_EQ(serial.log().back(), "PortOpen=0");
    EXPECT_EQ(endCalls, 1);
    EXPECT_TRUE(serial.writes().empty());
}

TEST(LineBytes, Utf8BecomesOneBytePerCharacterUpToU00FF)
{
    std::string unsendable;
    EXPECT_EQ(lineBytesFromUtf8("ABC", unsendable), "ABC");
    EXPECT_EQ(lineBytesFromUtf8("\xC3\xBF", unsendable), "\xFF");
    EXPECT_EQ(lineBytesFromUtf8("a\xC4\x80", unsendable), std::nullopt); // U+0100
    EXPECT_EQ(unsendable, "\xC4\x80");
    EXPECT_EQ(lineBytesFromUtf8("\xF0\x9F\x98\x80", unsendable), std::nullopt);
    EXPECT_EQ(lineBytesFromUtf8("\xC3", unsendable), std::nullopt); // cut short
}

} // namespace
