#include "service/rulesprocessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace corvane {
namespace {

class RulesProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "corvane-rules-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "rules.txt").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteRules(const std::string& text) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << text;
  }

  // Loads the rules and returns the processor for them.
  TRulesProcessor& Load(const std::string& text) {
    WriteRules(text);
    rules_ = std::make_unique<TRulesProcessor>(path_);
    EXPECT_TRUE(rules_->Load());
    return *rules_;
  }

  struct Decision {
    bool admitted;
    std::vector<std::string> log;
  };
  Decision Admit(const std::string& address) {
    Decision decision{false, {}};
    decision.admitted =
        rules_->Admit(address, [&](const std::string& line) { decision.log.push_back(line); });
    return decision;
  }

  std::filesystem::path dir_;
  std::string path_;
  std::unique_ptr<TRulesProcessor> rules_;
};

TEST_F(RulesProcessorTest, AdmissionTable) {
  struct Case {
    const char* rules;
    const char* address;
    bool admitted;
    std::vector<std::string> log;
  };
  const char* const kDeny = "POLICY REJECT\r\nACCEPT 10.0.0.0/8\r\nREJECT 10.0.0.5\r\n";
  const char* const kAllow = "POLICY ACCEPT\r\nREJECT 0.0.0.0\r\nACCEPT 192.168.1.10-20\r\n";
  const std::vector<Case> cases = {
      // Default deny: accepted and not rejected, accepted and rejected, not accepted.
      {kDeny, "10.0.0.6", true, {"10.0.0.6 Accepted as per rules."}},
      {kDeny,
       "10.0.0.5",
       false,
       {"10.0.0.5 Accepted as per rules.", "10.0.0.5 Rejecting as per rules."}},
      {kDeny, "11.0.0.5", false, {"11.0.0.5 Rejecting as per default policy."}},
      {"POLICY REJECT\r\n", "1.2.3.4", false, {"1.2.3.4 Rejecting as per default policy."}},
      // Default allow: not rejected, rejected and accepted, rejected and not accepted.
      {kAllow, "192.168.1.15", true, {" 192.168.1.15 Accepted as per rules."}},
      {kAllow, "192.168.1.21", false, {"192.168.1.21 Rejecting as per rules."}},
      {kAllow, "192.168.2.15", false, {"192.168.2.15 Rejecting as per rules."}},
      {"POLICY ACCEPT\r\nREJECT 192.168.1.0/24\r\n", "192.168.2.1", true, {}},
      {"POLICY ACCEPT\r\nREJECT 192.168.1.0/24\r\n",
       "192.168.1.200",
       false,
       {"192.168.1.200 Rejecting as per rules."}},
      // Any other policy text, and none at all, is default allow.
      {"", "1.2.3.4", true, {}},
      {"POLICY  REJECT\r\nREJECT 1.2.3.4\r\n",
       "1.2.3.4",
       false,
       {"1.2.3.4 Rejecting as per rules."}},
      {"POLICY  REJECT\r\n", "1.2.3.4", true, {}},
      {"policy reject\r\n", "1.2.3.4", true, {}},
      // Under default allow the accept list is not consulted, so its bad entry is never reached.
      {"POLICY ACCEPT\r\nACCEPT bad/x\r\n", "1.2.3.4", true, {}},
      // The last POLICY line wins.
      {"POLICY ACCEPT\r\nPOLICY REJECT\r\n",
       "1.2.3.4",
       false,
       {"1.2.3.4 Rejecting as per default policy."}},
      // IPv6 clients match exact entries and "0.0.0.0" only.
      {"POLICY REJECT\r\nACCEPT ::1\r\n", "::1", true, {"::1 Accepted as per rules."}},
      {"POLICY ACCEPT\r\nREJECT 0.0.0.0\r\n", "::1", false, {"::1 Rejecting as per rules."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.rules) + "| " + c.address);
    Load(c.rules);
    const Decision decision = Admit(c.address);
    EXPECT_EQ(decision.admitted, c.admitted);
    EXPECT_EQ(decision.log, c.log);
  }
}

TEST_F(RulesProcessorTest, MissingFileAdmitsEveryoneSilently) {
  TRulesProcessor rules((dir_ / "absent.txt").string());
  EXPECT_FALSE(rules.Load());
  EXPECT_EQ(rules.Policy(), "");
  std::vector<std::string> log;
  EXPECT_TRUE(rules.Admit("10.0.0.1", [&](const std::string& line) { log.push_back(line); }));
  EXPECT_TRUE(log.empty());
}

TEST_F(RulesProcessorTest, EntryForms) {
  struct Case {
    const char* entry;
    const char* address;
    bool matches;
  };
  const Case cases[] = {
      {"10.0.0.0/8", "10.1.2.3", true},
      {"10.0.0.0/8", "11.1.2.3", false},
      {"0.0.0.0/0", "203.0.113.7", true},
      {"10.0.0.5/32", "10.0.0.5", true},
      {"10.0.0.5/32", "10.0.0.6", false},
      {"10.0.0.0/40", "10.0.0.0", true},  // counts as /32
      {"10.0.0.0/40", "10.0.0.1", false},
      {"192.168.1.10-20", "192.168.1.20", true},
      {"192.168.1.10-20", "192.168.1.9", false},
      {"192.168.1.20-10", "192.168.1.15", false},  // reversed: nothing
      {"192.168.1.20-10", "192.168.1.20", false},
      {"0.0.0.0", "198.51.100.1", true},
      {"10.0.0.5", "10.0.0.5", true},
      {"10.0.0.5", "10.0.0.50", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.entry) + " " + c.address);
    TRulesProcessor& rules =
        Load(std::string("REJECT ") + c.entry + "\r\nACCEPT " + c.entry + "\r\n");
    EXPECT_EQ(rules.MatchesReject(c.address), c.matches);
    EXPECT_EQ(rules.MatchesAccept(c.address), c.matches);
  }
}

TEST_F(RulesProcessorTest, MalformedEntryThrowsOnlyWhenReached) {
  // Accept list in file order: the exact entry is found directly, the CIDR entry before the bad
  // one ends the search, and only an address that gets past both reaches the bad entry.
  TRulesProcessor& rules =
      Load("POLICY REJECT\r\nACCEPT 10.0.0.0/8\r\nACCEPT 1.2.3/8\r\nACCEPT 172.16.0.9\r\n");
  EXPECT_TRUE(rules.MatchesAccept("10.9.9.9"));
  EXPECT_TRUE(rules.MatchesAccept("172.16.0.9"));
  EXPECT_THROW(rules.MatchesAccept("172.16.0.8"), std::runtime_error);

  // A throwing admission writes no line before the throw when the first list consulted fails.
  std::vector<std::string> log;
  EXPECT_THROW(rules.Admit("172.16.0.8", [&](const std::string& line) { log.push_back(line); }),
               std::runtime_error);
  EXPECT_TRUE(log.empty());

  for (const char* entry : {"10.0.0.0/x", "10.0.0.0/", "10.0.0/8", "10.0.0.256/8", "192.168.1.x-20",
                            "192.168.1.10-", "192.168.1-20"}) {
    SCOPED_TRACE(entry);
    EXPECT_THROW(Load(std::string("REJECT ") + entry + "\r\n").MatchesReject("10.0.0.1"),
                 std::runtime_error);
  }
  // The client's address is interpreted too when a CIDR or range entry is tried on it.
  EXPECT_THROW(Load("REJECT 10.0.0.0/8\r\n").MatchesReject("::1"), std::runtime_error);
  EXPECT_THROW(Load("REJECT 10.0.0.1-5\r\n").MatchesReject("::1"), std::runtime_error);
  EXPECT_TRUE(Load("REJECT ::1\r\nREJECT 10.0.0.0/8\r\n").MatchesReject("::1"));
}

TEST_F(RulesProcessorTest, RejectListIsTriedInSortedOrder) {
  // Sorted, "1.1.1.1/x" comes before "9.9.9.9/8" although the file names it later.
  TRulesProcessor& rules = Load("REJECT 9.0.0.0/8\r\nREJECT 1.1.1.1/x\r\n");
  EXPECT_THROW(rules.MatchesReject("9.1.1.1"), std::runtime_error);
}

TEST_F(RulesProcessorTest, ReloadReplacesListsAndKeepsPolicy) {
  TRulesProcessor& rules = Load("POLICY REJECT\r\nACCEPT 10.0.0.1\r\n");
  EXPECT_EQ(rules.Policy(), "REJECT");
  EXPECT_TRUE(rules.MatchesAccept("10.0.0.1"));

  WriteRules("ACCEPT 10.0.0.2\r\n");  // no POLICY line
  EXPECT_TRUE(rules.Load());
  EXPECT_EQ(rules.Policy(), "REJECT");
  EXPECT_FALSE(rules.MatchesAccept("10.0.0.1"));
  EXPECT_TRUE(rules.MatchesAccept("10.0.0.2"));

  std::filesystem::remove(path_);
  EXPECT_FALSE(rules.Load());
  EXPECT_EQ(rules.Policy(), "REJECT");
  EXPECT_FALSE(rules.MatchesAccept("10.0.0.2"));

  WriteRules("POLICY ACCEPT\r\n");
  EXPECT_TRUE(rules.Load());
  EXPECT_EQ(rules.Policy(), "ACCEPT");
}

TEST_F(RulesProcessorTest, AdmissionsDuringReloadsSeeWholeRuleSets) {
  // Set A rejects 10.0.0.1 after accepting it; set B has no accept entry. A decision made from a
  // mixture (policy and lists of different sets) would differ from both.
  const std::string set_a = "POLICY REJECT\r\nACCEPT 10.0.0.1\r\nREJECT 10.0.0.1\r\n";
  const std::string set_b = "POLICY ACCEPT\r\nREJECT 10.0.0.1\r\n";
  const std::vector<std::string> log_a = {"10.0.0.1 Accepted as per rules.",
                                          "10.0.0.1 Rejecting as per rules."};
  const std::vector<std::string> log_b = {"10.0.0.1 Rejecting as per rules."};
  TRulesProcessor& rules = Load(set_a);

  std::atomic<bool> done{false};
  std::thread reloader([&] {
    const std::string staged = (dir_ / "staged.txt").string();
    for (int i = 0; i < 300; ++i) {
      {
        std::ofstream out(staged, std::ios::binary | std::ios::trunc);
        out << (i % 2 ? set_a : set_b);
      }
      std::filesystem::rename(staged, path_);  // the file itself changes in one step
      rules.Load();
    }
    done = true;
  });
  int admissions = 0;
  for (; admissions < 200000 && !done; ++admissions) {
    const Decision decision = Admit("10.0.0.1");
    if (decision.admitted || (decision.log != log_a && decision.log != log_b)) {
      ADD_FAILURE() << "mixed rule set seen at admission " << admissions;
      break;  // the reloader is still joined below
    }
  }
  reloader.join();
  EXPECT_GT(admissions, 0);
}

}  // namespace
}  // namespace corvane
