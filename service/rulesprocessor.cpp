#include "service/rulesprocessor.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "formats/rules_file.h"
#include "service/net/ipv4_calculator.h"

namespace corvane {

struct TRulesProcessor::RuleSet {
  bool Rejects(const std::string& address) const;
  bool Accepts(const std::string& address) const;

  std::string policy;
  std::vector<std::string> reject;  // sorted
  std::vector<std::string> accept;  // file order
  std::vector<std::string> accept_sorted;
  // Read and kept; nothing consults them.
  std::vector<std::string> delay;
  std::vector<std::string> limit;
  std::vector<std::string> route;
  std::vector<std::string> load_balance;
};

namespace {

bool EntryMatches(std::string_view entry, const std::string& address) {
  if (entry.find('/') != std::string_view::npos)
    return TIpv4Network::FromCidr(entry).Contains(address);
  if (entry.find('-') != std::string_view::npos) return TIpv4Range::Parse(entry).Contains(address);
  if (entry == "0.0.0.0") return true;
  return entry == address;
}

bool MatchesList(const std::vector<std::string>& entries, const std::vector<std::string>& sorted,
                 const std::string& address) {
  if (std::binary_search(sorted.begin(), sorted.end(), address)) return true;
  return std::any_of(entries.begin(), entries.end(),
                     [&](const std::string& entry) { return EntryMatches(entry, address); });
}

}  // namespace

bool TRulesProcessor::RuleSet::Rejects(const std::string& address) const {
  return MatchesList(reject, reject, address);
}

bool TRulesProcessor::RuleSet::Accepts(const std::string& address) const {
  return MatchesList(accept, accept_sorted, address);
}

TRulesProcessor::TRulesProcessor(std::string file_name)
    : file_name_(std::move(file_name)), rules_(std::make_shared<const RuleSet>()) {}

bool TRulesProcessor::Load() {
  ServiceRuleFile file = ReadServiceRules(file_name_);
  RuleSet fresh;
  fresh.reject = std::move(file.reject);
  // The reader sorts it already; sorting again keeps the direct lookup sound regardless.
  std::sort(fresh.reject.begin(), fresh.reject.end());
  fresh.accept = std::move(file.accept);
  fresh.accept_sorted = fresh.accept;
  std::sort(fresh.accept_sorted.begin(), fresh.accept_sorted.end());
  fresh.delay = std::move(file.delay);
  fresh.limit = std::move(file.limit);
  fresh.route = std::move(file.route);
  fresh.load_balance = std::move(file.loadBalance);

  std::lock_guard lock(mutex_);
  // Taken under the lock so that two reloads at once cannot lose a policy between them.
  fresh.policy = file.policy.value_or(rules_->policy);
  rules_ = std::make_shared<const RuleSet>(std::move(fresh));
  return file.opened;
}

std::shared_ptr<const TRulesProcessor::RuleSet> TRulesProcessor::Snapshot() const {
  std::lock_guard lock(mutex_);
  return rules_;
}

std::string TRulesProcessor::Policy() const {
  return Snapshot()->policy;
}

bool TRulesProcessor::MatchesReject(const std::string& address) const {
  return Snapshot()->Rejects(address);
}

bool TRulesProcessor::MatchesAccept(const std::string& address) const {
  return Snapshot()->Accepts(address);
}

bool TRulesProcessor::Admit(const std::string& address, const LogWriter& log) const {
  const std::shared_ptr<const RuleSet> rules = Snapshot();
  if (rules->policy == "REJECT") {
    // Default deny: only an accepted address may stay, and the reject list still overrides.
    if (!rules->Accepts(address)) {
      log(address + " Rejecting as per default policy.");
      return false;
    }
    log(address + " Accepted as per rules.");
    if (rules->Rejects(address)) {
      log(address + " Rejecting as per rules.");
      return false;
    }
    return true;
  }
  // Default allow (any other policy text, the empty one included).
  if (!rules->Rejects(address)) return true;
  if (rules->Accepts(address)) {
    log(" " + address + " Accepted as per rules.");
    return true;
  }
  log(address + " Rejecting as per rules.");
  return false;
}

}  // namespace corvane
