#include "formats/rules_file.h"

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace corvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using Policy = DesktopRules::Policy;
using Lines = std::vector<std::string>;

// Writes the text under a fresh name and reads it with both readers; the desktop side starts
// from a state that no file line would produce, so that "unchanged" can be seen.
struct BothReaders {
  explicit BothReaders(const std::string& content) {
    const std::string path = dir.File("rules.txt");
    WriteFile(path, content);
    service = ReadServiceRules(path);
    desktop.policy = Policy::AcceptAll;
    desktop.entries = {"earlier"};
    desktop_opened = ReadDesktopRules(path, desktop);
  }
  TempDir dir;
  ServiceRuleFile service;
  DesktopRules desktop;
  bool desktop_opened = false;
};

TEST(RulesFileTest, MissingFileOpensNeitherReader) {
  TempDir dir;
  ServiceRuleFile service = ReadServiceRules(dir.File("rules.txt"));
  EXPECT_FALSE(service.opened);
  EXPECT_EQ(service.policy, std::nullopt);
  EXPECT_TRUE(service.reject.empty());

  DesktopRules desktop{Policy::AcceptAll, {"kept"}};
  EXPECT_FALSE(ReadDesktopRules(dir.File("rules.txt"), desktop));
  EXPECT_FALSE(ReadDesktopRules(dir.Path(), desktop));
  EXPECT_EQ(desktop.policy, Policy::AcceptAll);
  EXPECT_EQ(desktop.entries, Lines{"kept"});
  EXPECT_FALSE(ReadServiceRules(dir.Path()).opened);
}

TEST(RulesFileTest, CrLfAndLfReadTheSame) {
  for (const char* end : {"\n", "\r\n"}) {
    const std::string e = end;
    BothReaders read("POLICY REJECT" + e + "ACCEPT 10.0.0.0/8" + e + e + "REJECT 10.0.0.5" + e);
    EXPECT_TRUE(read.service.opened);
    EXPECT_EQ(read.service.policy, "REJECT");
    EXPECT_EQ(read.service.accept, Lines{"10.0.0.0/8"});
    EXPECT_EQ(read.service.reject, Lines{"10.0.0.5"});
    EXPECT_TRUE(read.desktop_opened);
    EXPECT_EQ(read.desktop.policy, Policy::RejectAll);
    EXPECT_EQ(read.desktop.entries, (Lines{"earlier", "ACCEPT 10.0.0.0/8", "", "REJECT 10.0.0.5"}));
  }
  // A last line without LF, and a short POLICY line: the policy never carries the line end.
  EXPECT_EQ(BothReaders("POLICY ACCEPT\r").service.policy, "ACCEPT");
  EXPECT_EQ(BothReaders("POLICY ACCEPT\r").desktop.policy, Policy::AcceptAll);
  EXPECT_EQ(BothReaders("POLICY REJ\r\n").service.policy, "REJ");
  EXPECT_EQ(BothReaders("POLICY\r\n").service.policy, "");
}

TEST(RulesFileTest, PolicyLinesWhereTheReadersDisagree) {
  // No POLICY line: the service has none (keeps its previous one), the desktop keeps its own.
  BothReaders none("ACCEPT 1.2.3.4\r\n");
  EXPECT_EQ(none.service.policy, std::nullopt);
  EXPECT_EQ(none.desktop.policy, Policy::AcceptAll);

  // Two blanks: the service takes " REJEC", the desktop ignores the line.
  BothReaders two_blanks("POLICY  REJECT\r\n");
  EXPECT_EQ(two_blanks.service.policy, " REJEC");
  EXPECT_EQ(two_blanks.desktop.policy, Policy::AcceptAll);
  EXPECT_EQ(two_blanks.desktop.entries, Lines{"earlier"});

  // Lower case is no keyword: the service skips it, the desktop keeps it as an entry.
  BothReaders lower("policy reject\r\nreject 1.2.3.4\r\n");
  EXPECT_EQ(lower.service.policy, std::nullopt);
  EXPECT_TRUE(lower.service.reject.empty());
  EXPECT_EQ(lower.desktop.policy, Policy::AcceptAll);
  EXPECT_EQ(lower.desktop.entries, (Lines{"earlier", "policy reject", "reject 1.2.3.4"}));

  // The last POLICY line is in force for both.
  BothReaders several("POLICY ACCEPT\r\nPOLICY REJECT\r\n");
  EXPECT_EQ(several.service.policy, "REJECT");
  EXPECT_EQ(several.desktop.policy, Policy::RejectAll);
}

TEST(RulesFileTest, ServiceReadsFieldsLikeItsPatterns) {
  BothReaders read(
      "REJECT10.1.1.1\n"
      "REJECT\n"
      "REJECT   \n"
      "REJECT 10.0.0.10 and more words\n"
      "REJECT\t1.1.1.1\n"
      "REJECTED 9.9.9.9\n"  // no blank needed after the keyword: the address is "ED"
      " REJECT 8.8.8.8\n"
      "ACCEPT 192.168.1.10-20\n"
      "ACCEPT 0.0.0.0\n"
      "ACCEPT \x01"
      "addr\x01\n"
      "DELAY 10.0.0.1 5\n"
      "DELAY 10.0.0.1\n"
      "DELAY 10.0.0.2 x\n"
      "DELAY 1.1.1.1 -3s\n"
      "DELAY 2.2.2.2 99999999999\n"
      "LIMITMAX 10.0.0.0/8 +20\n"
      "LIMITMAX 10.0.0.0/8\n"
      "ROUTE 10.0.0.0/8 gateway extra\n"
      "ROUTE 10.0.0.0/8\n"
      "LOADBALANCERANDAM 1.2.3.4 serverA\n"
      "COMMENT whatever\n");
  EXPECT_EQ(read.service.reject, (Lines{"1.1.1.1", "10.0.0.10", "10.1.1.1", "ED"}));
  EXPECT_EQ(read.service.accept, (Lines{"192.168.1.10-20", "0.0.0.0", "addr"}));
  EXPECT_EQ(read.service.delay, (Lines{"1.1.1.1=-3", "10.0.0.1=5", "2.2.2.2=2147483647"}));
  EXPECT_EQ(read.service.limit, Lines{"10.0.0.0/8=20"});
  EXPECT_EQ(read.service.route, Lines{"10.0.0.0/8=gateway"});
  EXPECT_EQ(read.service.loadBalance, Lines{"1.2.3.4=serverA"});
  EXPECT_EQ(read.service.policy, std::nullopt);
}

TEST(RulesFileTest, SortingIsByBytesAndAcceptKeepsFileOrder) {
  BothReaders read(
      "REJECT 10.0.0.2\nREJECT 1.1.1.1\nREJECT 10.0.0.10\nREJECT 1.1.1.1\n"
      "ACCEPT 10.0.0.2\nACCEPT 1.1.1.1\nACCEPT 10.0.0.10\n"
      "DELAY b 1\nDELAY B 2\nDELAY a 3\n");
  EXPECT_EQ(read.service.reject, (Lines{"1.1.1.1", "1.1.1.1", "10.0.0.10", "10.0.0.2"}));
  EXPECT_EQ(read.service.accept, (Lines{"10.0.0.2", "1.1.1.1", "10.0.0.10"}));
  EXPECT_EQ(read.service.delay, (Lines{"B=2", "a=3", "b=1"}));
}

TEST(RulesFileTest, LongLinesSplitAtEachReadersBuffer) {
  // 1,500 characters: 999 for the service's first piece, 501 for its second.
  const std::string first = "REJECT " + std::string(992, 'a');
  const std::string second = "ACCEPT " + std::string(494, 'b');
  ASSERT_EQ((first + second).size(), 1500u);
  for (const char* end : {"\n", "\r\n"}) {
    BothReaders read(first + second + end + "POLICY ACCEPT" + end);
    EXPECT_EQ(read.service.reject, Lines{std::string(992, 'a')});
    EXPECT_EQ(read.service.accept, Lines{std::string(494, 'b')});
    EXPECT_EQ(read.service.policy, "ACCEPT");

    const std::string whole = first + second;
    Lines pieces{"earlier"};
    for (std::size_t at = 0; at < whole.size(); at += 255) pieces.push_back(whole.substr(at, 255));
    EXPECT_EQ(pieces.size(), 7u);  // six desktop entries
    EXPECT_EQ(read.desktop.entries, pieces);
    EXPECT_EQ(read.desktop.policy, Policy::AcceptAll);
  }
}

TEST(RulesFileTest, DesktopLoadAndSaveKeepsEveryLine) {
  TempDir dir;
  const std::string path = dir.File("rules.txt");
  WriteFile(path, "ACCEPT 1.2.3.4\n\nPOLICY ACCEPT\nROUTE 10.0.0.0/8 gateway\nREJECT10.1.1.1");
  DesktopRules rules;
  ASSERT_TRUE(ReadDesktopRules(path, rules));
  EXPECT_EQ(rules.policy, Policy::AcceptAll);
  ASSERT_TRUE(WriteDesktopRules(path, rules));
  EXPECT_EQ(ReadFile(path),
            "POLICY ACCEPT\r\nACCEPT 1.2.3.4\r\n\r\nROUTE 10.0.0.0/8 gateway\r\n"
            "REJECT10.1.1.1\r\n");

  ServiceRuleFile service = ReadServiceRules(path);
  EXPECT_EQ(service.policy, "ACCEPT");
  EXPECT_EQ(service.accept, Lines{"1.2.3.4"});
  EXPECT_EQ(service.route, Lines{"10.0.0.0/8=gateway"});
  EXPECT_EQ(service.reject, Lines{"10.1.1.1"});

  DesktopRules again;
  ASSERT_TRUE(ReadDesktopRules(path, again));
  EXPECT_EQ(again.entries, rules.entries);
}

TEST(RulesFileTest, LineThatFillsAPieceExactlyAddsNoEmptyEntry) {
  // A 255-character line fills the desktop's piece; its line end belongs to it, so saving and
  // loading again keeps the entries as they were instead of adding an empty one each time.
  const std::string line(255, 'x');
  for (const char* end : {"\n", "\r\n"}) {
    BothReaders read(line + end + "ACCEPT 1.2.3.4" + end);
    EXPECT_EQ(read.desktop.entries, (Lines{"earlier", line, "ACCEPT 1.2.3.4"}));
    EXPECT_EQ(read.service.accept, Lines{"1.2.3.4"});
  }
  TempDir dir;
  const std::string path = dir.File("rules.txt");
  const DesktopRules saved{Policy::AcceptAll, {line, "", line + "y"}};
  ASSERT_TRUE(WriteDesktopRules(path, saved));
  DesktopRules loaded;
  ASSERT_TRUE(ReadDesktopRules(path, loaded));
  EXPECT_EQ(loaded.entries, (Lines{line, "", line, "y"}));
}

TEST(RulesFileTest, DesktopWriterPolicyLineAndFailure) {
  TempDir dir;
  const std::string path = dir.File("rules.txt");
  ASSERT_TRUE(WriteDesktopRules(path, DesktopRules{}));
  EXPECT_EQ(ReadFile(path), "POLICY REJECT\r\n");
  ASSERT_TRUE(WriteDesktopRules(path, DesktopRules{Policy::AcceptAll, {"ACCEPT 0.0.0.0"}}));
  EXPECT_EQ(ReadFile(path), "POLICY ACCEPT\r\nACCEPT 0.0.0.0\r\n");
  EXPECT_FALSE(WriteDesktopRules(dir.File("missing/rules.txt"), DesktopRules{}));
  EXPECT_FALSE(WriteDesktopRules(dir.Path(), DesktopRules{}));
}

}  // namespace
}  // namespace corvane
