// SPDX-License-Identifier: GPL-3.0-or-later
// The owner protocol's framing: lines cut out of a stream that arrives in
// pieces of any size, a bound on a line, every byte value kept, and what the
// writer writes read back as it was.

#include <gtest/gtest.h>

#include <QJsonObject>

#include <string>
#include <vector>

#include "protocol/json_lines.h"
#include "protocol/owner_protocol.h"

namespace {

std::vector<std::string> drain(JsonLineReader &reader)
{
    std::vector<std::string> lines;
    while (const auto line = reader.next())
        lines.push_back(*line);
    return lines;
}

TEST(JsonLines, EverySplitOfTheStreamGivesTheSameLines)
{
    const std::string stream = "{\"id\":1,\"hello\":true}\n\n{\"id\":2,\"state\":true}\r\n{\"id\":3";
    const std::vector<std::string> whole = {"{\"id\":1,\"hello\":true}", "", "{\"id\":2,\"state\":true}\r"};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        JsonLineReader reader(1024);
        reader.append(std::string_view(stream).substr(0, cut));
        std::vector<std::string> lines = drain(reader);
        reader.append(std::string_view(stream).substr(cut));
        for (const std::string &line : drain(reader))
            lines.push_back(line);
        EXPECT_EQ(lines, whole) << "cut at " << cut;
        EXPECT_FALSE(reader.tooLong());
        // The unfinished request is still there, and ends with its LF.
        reader.append("}\n");
        EXPECT_EQ(reader.next(), "{\"id\":3}") << "cut at " << cut;
    }
}

TEST(JsonLines, ALineOverTheBoundStopsTheReaderWhetherEndedOrNot)
{
    JsonLineReader ended(8);
    ended.append("12345678\n123456789\nafter\n");
    EXPECT_EQ(ended.next(), "12345678"); // at the bound: taken
    EXPECT_EQ(ended.next(), std::nullopt);
    EXPECT_TRUE(ended.tooLong());
    EXPECT_EQ(ended.next(), std::nullopt); // framing lost: nothing after it either

    JsonLineReader endless(8);
    endless.append("12345678");
    EXPECT_EQ(endless.next(), std::nullopt);
    EXPECT_FALSE(endless.tooLong()); // may still end in time
    endless.append("9");
    EXPECT_EQ(endless.next(), std::nullopt);
    EXPECT_TRUE(endless.tooLong());
    endless.clear();
    endless.append("ok\n");
    EXPECT_EQ(endless.next(), "ok");
}

TEST(JsonLines, EveryByteButTheLineFeedPassesTheReaderAsItCame)
{
    std::string line;
    for (int byte = 0; byte < 256; ++byte) {
        if (byte != '\n')
            line += static_cast<char>(byte);
    }
    JsonLineReader reader(line.size());
    reader.append(line + '\n');
    EXPECT_EQ(reader.next(), line);
}

TEST(JsonLines, WhatTheWriterWritesTheReaderReadsBackWithEveryCharacter)
{
    QString latin1;
    for (int code = 0; code < 256; ++code)
        latin1 += QChar(code);
    QJsonObject object;
    object[field::kId] = QStringLiteral("a\nb");
    object[field::kSent] = latin1;
    object[field::kElapsedMs] = 12.345;
    object[field::kStatus] = QJsonValue();
    const QByteArray written = jsonLine(object);
    // One line: an LF in a value is escaped, and the line ends with one.
    EXPECT_EQ(written.count('\n'), 1);
    EXPECT_TRUE(written.endsWith('\n'));
    EXPECT_EQ(jsonText(object) + '\n', written.toStdString());
    JsonLineReader reader(1 << 16);
    reader.append(written);
    const auto line = reader.next();
    ASSERT_TRUE(line);
    EXPECT_EQ(jsonObject(*line), object);
    EXPECT_TRUE(jsonObject("not json").isEmpty());
}

TEST(OwnerProtocol, EveryVerbIsFoundByItsNameAndNoOptionIsAVerb)
{
    for (const VerbName &row : kVerbs) {
        EXPECT_EQ(verbNamed(QString(row.name)), row.verb) << row.name.data();
        EXPECT_EQ(verbName(row.verb), row.name);
    }
    for (const QLatin1String option : kRequestOptions)
        EXPECT_FALSE(verbNamed(QString(option))) << option.data();
    EXPECT_FALSE(verbNamed(u"Command"));
}

TEST(OwnerProtocol, TheErrorTextsAreToldApartByTheirStart)
{
    EXPECT_EQ(lineDownError("/dev/ttyUSB0 is not open"), "the line is down: /dev/ttyUSB0 is not open");
    EXPECT_EQ(lineLeasedError("qv550-cli (process 7)"), "the line is leased to qv550-cli (process 7)");
    EXPECT_EQ(noReplyError(2000), "no reply within 2000 ms");
    EXPECT_EQ(cutOffError(500, "8 0"), "the reply was cut off: no CR or ACK within 500 ms (arrived: 8 0)");
    EXPECT_TRUE(errorIs(QString::fromStdString(lineDownError("x")), error_text::kLineDown));
    EXPECT_FALSE(errorIs(QString::fromStdString(lineLeasedError("x")), error_text::kLineDown));
    EXPECT_TRUE(errorIs(noReplyError(1), error_text::kNoReply));
    EXPECT_TRUE(errorIs(cutOffError(1, ""), error_text::kCutOff));
    EXPECT_FALSE(errorIs(std::string("the"), error_text::kLineDown));
}

TEST(OwnerProtocol, AReplyEndsAtItsCarriageReturnOrAck)
{
    EXPECT_TRUE(replyEnded("80\r"));
    EXPECT_TRUE(replyEnded("\x06"));
    EXPECT_FALSE(replyEnded("80"));
    EXPECT_FALSE(replyEnded(""));
    EXPECT_FALSE(replyEnded(std::string_view("\x00\n", 2)));
}

} // namespace
