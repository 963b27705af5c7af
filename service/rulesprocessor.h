#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace corvane {

// The access-rule engine: the policy and the reject and accept lists of rules.txt, and the
// decision to admit or refuse a new FTP connection. A reload builds a whole new rule set and
// swaps it in, so every admission works on either the old or the new set, never a mixture.
class TRulesProcessor {
 public:
  using LogWriter = std::function<void(const std::string&)>;

  // Stores the path; the rule set starts empty with an empty policy.
  explicit TRulesProcessor(std::string file_name);
  TRulesProcessor(const TRulesProcessor&) = delete;
  TRulesProcessor& operator=(const TRulesProcessor&) = delete;

  const std::string& FileName() const { return file_name_; }

  // Reads the file and replaces the rule set. The policy stays as it was when the file has no
  // POLICY line or cannot be opened (then the new rule set is empty). Returns whether the file
  // could be opened.
  bool Load();

  std::string Policy() const;

  // Whether an entry of the list names the address: an exact entry first, then the entries in
  // list order (reject list sorted, accept list in file order): "a.b.c.d/n", "a.b.c.d-e",
  // "0.0.0.0" for every address, or the address text itself. Throws std::runtime_error when an
  // entry reached, or the address it is tried on, cannot be interpreted.
  bool MatchesReject(const std::string& address) const;
  bool MatchesAccept(const std::string& address) const;

  // Admits or refuses a connection from the address by the policy and the two lists, writing
  // the decision's log lines in order. Throws std::runtime_error as the matches do; the caller
  // then closes the connection without a greeting and without a further log line.
  bool Admit(const std::string& address, const LogWriter& log) const;

 private:
  struct RuleSet;

  std::shared_ptr<const RuleSet> Snapshot() const;

  const std::string file_name_;
  mutable std::mutex mutex_;
  std::shared_ptr<const RuleSet> rules_;  // guarded by mutex_; the set itself never changes
};

}  // namespace corvane
