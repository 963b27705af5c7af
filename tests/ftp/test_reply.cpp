// Reply lines and their wire form, command matching and the not-understood text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/ftp/control_session.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_reply.h"
#include "service/ftp/text_encoding.h"

namespace corvane {
namespace {

using Lines = std::vector<std::string>;

TEST(ReplyTextTest, SplitsAtEveryKindOfLineEnd) {
  const struct {
    std::string text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"one", {"one"}},
      {"a\r\nb", {"a", "b"}},
      {"a\rb", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\n", {"a"}},
      {"a\r\n\r\n", {"a", ""}},
      {"a\r\r\n", {"a", ""}},
      {"\r\n", {""}},
      {"x\r\ry\nz", {"x", "", "y", "z"}},
  };
  for (const auto& c : cases) {
    TFtpReply reply(200, c.text);
    EXPECT_EQ(reply.Lines(), c.lines) << testing::PrintToString(c.text);
  }
}

TEST(ReplyFormatTest, WireForms) {
  const struct {
    Lines lines;
    TReplyFormat format;
    std::string wire;
  } cases[] = {
      {{}, TReplyFormat::rfNormal, "230\r\n"},
      {{"Ok"}, TReplyFormat::rfNormal, "230 Ok\r\n"},
      {{"a", "b", "c"}, TReplyFormat::rfNormal, "230-a\r\n230-b\r\n230 c\r\n"},
      {{"a", ""}, TReplyFormat::rfNormal, "230-a\r\n230 \r\n"},
      {{"Ok"}, TReplyFormat::rfIndentMidLines, "230 Ok\r\n"},
      {{"a", "b"}, TReplyFormat::rfIndentMidLines, "230-a\r\n230 b\r\n"},
      {{"a", "b", "c", "d"}, TReplyFormat::rfIndentMidLines, "230-a\r\n b\r\n c\r\n230 d\r\n"},
  };
  for (const auto& c : cases) {
    TFtpReply reply;
    reply.SetCode(230);
    reply.Lines() = c.lines;
    reply.SetFormat(c.format);
    EXPECT_EQ(reply.Render(), c.wire);
  }
}

TEST(ReplyFormatTest, DefaultTextByFirstDigit) {
  const struct {
    int code;
    const char* text;
  } cases[] = {{150, "Information"},
               {250, "Ok"},
               {350, "Temporary Error"},
               {450, "Permanent Error"},
               {550, "Unknown Internal Error"}};
  for (const auto& c : cases) {
    TFtpReply reply(c.code, "");
    reply.FillDefaultText();
    EXPECT_EQ(reply.Lines(), Lines{c.text}) << c.code;
  }
  TFtpReply given(250, "Kept");
  given.FillDefaultText();
  EXPECT_EQ(given.Lines(), Lines{"Kept"});
}

TEST(NotUnderstoodTest, UpperCasesOnlyTheFirstWord) {
  const struct {
    std::string line;
    std::string text;
  } cases[] = {
      {"foo bar", "'FOO bar': command not understood."},
      {"foo", "'FOO': command not understood."},
      {"   ", "'   ': command not understood."},
      {"userbob x", "'USERBOB x': command not understood."},
      {"user\tbob Ann", "'USER\tbob Ann': command not understood."},
      {"caf\xc3\xa9 au lait", "'CAF\xc3\xa9 au lait': command not understood."},
  };
  for (const auto& c : cases) EXPECT_EQ(ControlSession::NotUnderstoodText(c.line), c.text);
}

TEST(CommandTableTest, MatchesWholeWordsInRegistrationOrder) {
  TCommandTable table;
  for (const char* word : {"MODE Z", "MODE", "MD5", "M"}) {
    TCommandHandler entry;
    entry.Command = word;
    table.Add(entry);
  }
  const struct {
    std::string line;
    const char* word;  // nullptr: no match
    std::string parameters;
  } cases[] = {
      {"mode z", "MODE Z", ""},
      {"MODE Z LEVEL 5", "MODE Z", "LEVEL 5"},
      {"MODE S", "MODE", "S"},
      {"mode  s", "MODE", " s"},
      {"MODE", "MODE", ""},
      {"MODE ", "MODE", ""},
      {"MODES", nullptr, ""},
      {"MODE\tS", nullptr, ""},
      {"md5 file", "MD5", "file"},
      {"m", "M", ""},
      {"", nullptr, ""},
      {" MODE", nullptr, ""},
      {std::string("MO\0E", 4), nullptr, ""},
  };
  for (const auto& c : cases) {
    std::string parameters = "untouched";
    const TCommandHandler* entry = table.Match(c.line, &parameters);
    if (!c.word) {
      EXPECT_EQ(entry, nullptr) << testing::PrintToString(c.line);
      continue;
    }
    ASSERT_NE(entry, nullptr) << c.line;
    EXPECT_EQ(entry->Command, c.word) << c.line;
    EXPECT_EQ(parameters, c.parameters) << c.line;
  }
  ASSERT_NE(table.Find("md5"), nullptr);
  EXPECT_EQ(table.Find("MODE")->Command, "MODE");
  EXPECT_EQ(table.Find("MOD"), nullptr);
  EXPECT_EQ(table.Find("MODE "), nullptr);
}

TEST(TextEncodingTest, Latin1RoundTripsEveryByte) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  EXPECT_EQ(EncodeText(DecodeText(bytes, TTextEncoding::Latin1), TTextEncoding::Latin1), bytes);
  EXPECT_EQ(DecodeText("\xe9", TTextEncoding::Latin1), "\xc3\xa9");
}

TEST(TextEncodingTest, Utf8KeepsValidTextAndMarksTheRest) {
  EXPECT_EQ(DecodeText("\xc3\xa9t\xe2\x82\xac", TTextEncoding::Utf8), "\xc3\xa9t\xe2\x82\xac");
  EXPECT_EQ(DecodeText("a\xff"
                       "b\xc3",
                       TTextEncoding::Utf8),
            "a?b?");
  EXPECT_EQ(DecodeText("\xc0\xaf", TTextEncoding::Utf8), "??");  // overlong "/"
  EXPECT_EQ(EncodeText("\xe2\x82\xac", TTextEncoding::Latin1), "?");
  EXPECT_EQ(ToAscii7("a\xc3\xa9"
                     "b"),
            "a?b");
}

}  // namespace
}  // namespace corvane
