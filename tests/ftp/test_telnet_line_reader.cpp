// The control connection's line reader: Telnet sequences, line ends and the length bound.
#include "service/ftp/telnet_line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

// What a reader made of some input: the completed lines ("!" marks an overlong one) and the
// bytes it answered with.
struct Outcome {
  std::vector<std::string> lines;
  std::string answers;
  bool pending = false;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
  *out << "lines {";
  for (const std::string& line : outcome.lines) *out << testing::PrintToString(line) << " ";
  *out << "} answers " << testing::PrintToString(outcome.answers) << " pending " << outcome.pending;
}

// Feeds the input in pieces cut at the given offsets (an empty list: all at once).
Outcome Read(const std::string& input, const std::vector<std::size_t>& cuts = {}) {
  Outcome outcome;
  TelnetLineReader reader([&](const std::string& bytes) { outcome.answers += bytes; });
  std::vector<std::size_t> bounds = cuts;
  bounds.push_back(input.size());
  std::size_t start = 0;
  for (const std::size_t end : bounds) {
    const std::string piece = input.substr(start, end - start);
    std::size_t consumed = 0;
    while (consumed < piece.size()) {
      std::optional<TelnetLineReader::Line> line =
          reader.Feed(piece.data(), piece.size(), &consumed);
      if (line) outcome.lines.push_back(line->overlong ? "!" : line->bytes);
    }
    start = end;
  }
  outcome.pending = reader.Pending();
  return outcome;
}

Outcome ReadByteByByte(const std::string& input) {
  std::vector<std::size_t> cuts;
  for (std::size_t i = 1; i < input.size(); ++i) cuts.push_back(i);
  return Read(input, cuts);
}

std::string Bytes(std::initializer_list<int> values) {
  std::string text;
  for (const int value : values) text += static_cast<char>(value);
  return text;
}

constexpr int IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, EL = 248, EC = 247,
              AO = 245, IP = 244, DM = 242, NOP = 241, SE = 240, AYT = 246;

struct Case {
  const char* name;
  std::string input;
  std::vector<std::string> lines;
  std::string answers;
};

class TelnetLineReaderTest : public testing::TestWithParam<Case> {};

// Every case gives the same outcome whether the bytes arrive at once, byte by byte or cut at
// any single point: the reader's state survives between pieces.
TEST_P(TelnetLineReaderTest, SameOutcomeHoweverTheInputIsCut) {
  const Case& c = GetParam();
  const Outcome expected{c.lines, c.answers, false};
  EXPECT_EQ(Read(c.input), expected);
  EXPECT_EQ(ReadByteByByte(c.input), expected);
  for (std::size_t cut = 1; cut < c.input.size(); ++cut)
    EXPECT_EQ(Read(c.input, {cut}), expected) << "cut at " << cut;
}

const std::string CRLF = "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, TelnetLineReaderTest,
    testing::Values(
        Case{"Plain", "USER bob" + CRLF, {"USER bob"}, ""},
        Case{"SeveralLines", "NOOP\r\nSYST\r\n\r\nPWD\r\n", {"NOOP", "SYST", "", "PWD"}, ""},
        Case{"BareLfStaysInTheLine", "USER a\nb\r\n", {"USER a\nb"}, ""},
        Case{"LfCrIsNoLineEnd", "A\n\rB\r\n", {"A\n\rB"}, ""},
        Case{"CrNulBecomesCr", "A\r" + Bytes({0}) + "B\r\n", {"A\rB"}, ""},
        Case{"CrOtherKeepsBoth", "A\rB\r\n", {"A\rB"}, ""},
        // The second CR starts the CR LF that ends the line; no line holds a CR LF pair.
        Case{"CrCrLfEndsTheLineAfterTheFirstCr", "A\r\r\nB\r\n", {"A\r", "B"}, ""},
        Case{"CrRunThenCrLf", "A\r\r\r\n", {"A\r\r"}, ""},
        Case{"NulInTextIsKept", "NO" + Bytes({0}) + "OP\r\n", {std::string("NO\0OP", 5)}, ""},
        Case{"IacIacIsOneByte",
             "A" + Bytes({IAC, IAC}) + "B\r\n",
             {"A\xff"
              "B"},
             ""},
        Case{"EraseCharacter", "USEX" + Bytes({IAC, EC}) + "R\r\n", {"USER"}, ""},
        Case{"EraseCharacterOnEmptyLine", Bytes({IAC, EC}) + "A\r\n", {"A"}, ""},
        Case{"EraseLine", "garbage" + Bytes({IAC, EL}) + "PWD\r\n", {"PWD"}, ""},
        Case{"InterruptSkipsToDataMark",
             "abc" + Bytes({IAC, IP}) + "dropped\r\n" + Bytes({IAC, DM}) + "PWD\r\n",
             {"PWD"},
             ""},
        Case{"InterruptThenIacIacDm", "x" + Bytes({IAC, IP, IAC, IAC, DM}) + "Q\r\n", {"Q"}, ""},
        Case{"AbortOutputAnswersIpDm",
             "A" + Bytes({IAC, AO}) + "B\r\n",
             {"AB"},
             Bytes({IAC, IP, IAC, DM})},
        Case{"WillIsRefusedWithDont",
             "A" + Bytes({IAC, WILL, 1}) + "B\r\n",
             {"AB"},
             Bytes({IAC, DONT, 1})},
        Case{"DoIsRefusedWithWont", Bytes({IAC, DO, 24}) + "B\r\n", {"B"}, Bytes({IAC, WONT, 24})},
        Case{"WillOfIacOption", Bytes({IAC, WILL, IAC}) + "B\r\n", {"B"}, Bytes({IAC, DONT, IAC})},
        Case{"WontAndDontAreSkipped", Bytes({IAC, WONT, 3, IAC, DONT, 13}) + "B\r\n", {"B"}, ""},
        Case{"SubnegotiationIsSkipped",
             "A" + Bytes({IAC, SB, 24, 1, 'x', 13, 10, IAC, SE}) + "B\r\n",
             {"AB"},
             ""},
        Case{"OtherCommandsAreIgnored", Bytes({IAC, NOP, IAC, DM, IAC, AYT}) + "B\r\n", {"B"}, ""},
        Case{"CrThenIacCommand", "A\r" + Bytes({IAC, EC}) + "\r\n", {"A"}, ""},
        Case{"CrThenIacIac", "A\r" + Bytes({IAC, IAC}) + "\r\n", {"A\r\xff"}, ""},
        Case{"HighBytesPassUnchanged", "CWD \xe9t\xc3\xa9\r\n", {"CWD \xe9t\xc3\xa9"}, ""}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(TelnetLineReaderLimits, LineAtTheBoundIsKept) {
  const std::string text(TelnetLineReader::kMaxLineLength, 'a');
  EXPECT_EQ(Read(text + CRLF).lines, std::vector<std::string>{text});
}

TEST(TelnetLineReaderLimits, LongerLineIsReportedOverlongAndTheNextLineIsWhole) {
  const std::string text(TelnetLineReader::kMaxLineLength + 1, 'a');
  EXPECT_EQ(Read(text + "\r\nNOOP\r\n").lines, (std::vector<std::string>{"!", "NOOP"}));
  // A megabyte without any line end is held as nothing but the overlong mark.
  Outcome endless = Read(std::string(1 << 20, 'x'));
  EXPECT_TRUE(endless.lines.empty());
  EXPECT_TRUE(endless.pending);
}

TEST(TelnetLineReaderLimits, ErasingAnOverlongLineStartsAfresh) {
  const std::string text(TelnetLineReader::kMaxLineLength + 10, 'a');
  EXPECT_EQ(Read(text + Bytes({IAC, EL}) + "PWD\r\n").lines, std::vector<std::string>{"PWD"});
  EXPECT_EQ(Read(text + Bytes({IAC, EC}) + "\r\n").lines, std::vector<std::string>{"!"});
}

TEST(TelnetLineReaderLimits, ThousandsOfLinesInOnePiece) {
  std::string input;
  for (int i = 0; i < 5000; ++i) input += "NOOP\r\n";
  const Outcome outcome = Read(input);
  ASSERT_EQ(outcome.lines.size(), 5000u);
  EXPECT_EQ(outcome.lines.front(), "NOOP");
  EXPECT_FALSE(outcome.pending);
}

TEST(TelnetLineReaderLimits, PendingTracksAPartLine) {
  EXPECT_TRUE(Read("NO").pending);
  EXPECT_TRUE(Read("NOOP\r").pending);
  EXPECT_TRUE(Read(Bytes({IAC})).pending);
  EXPECT_FALSE(Read("NOOP\r\n").pending);
}

}  // namespace
}  // namespace corvane
