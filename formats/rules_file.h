#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane {

// rules.txt read the way the service reads it.
struct ServiceRuleFile {
  bool opened = false;
  // Characters 8 to 13 of the last POLICY line, without its line end (shorter when the line is);
  // std::nullopt when the file has no POLICY line, and then the previous policy stays in force.
  std::optional<std::string> policy;
  std::vector<std::string> delay;        // "address=integer", sorted ascending by bytes
  std::vector<std::string> reject;       // address patterns, sorted ascending by bytes
  std::vector<std::string> accept;       // address patterns, in file order
  std::vector<std::string> limit;        // "address=integer"
  std::vector<std::string> route;        // "address=target"
  std::vector<std::string> loadBalance;  // "address=target"
};

// rules.txt as the desktop's security page holds it.
struct DesktopRules {
  enum class Policy { AcceptAll, RejectAll };
  Policy policy = Policy::RejectAll;
  std::vector<std::string> entries;  // every line but the POLICY lines, in file order
};

// Both readers read the file as text in pieces, as a line reader with a fixed buffer does: a
// piece ends after its LF or when it is full, so a longer line becomes several pieces, each
// handled as a line of its own; a line end right after a full piece only ends that piece. The
// desktop writes CR LF line ends; a CR LF pair reads as one LF, and a CR left at the end of a
// piece is dropped.

// Pieces of at most 999 characters; lines are classified by keyword, case-sensitively, in the
// order POLICY, DELAY, REJECT, ACCEPT, LIMITMAX, ROUTE, LOADBALANCERANDAM. A file that cannot be
// opened gives opened false and nothing else.
ServiceRuleFile ReadServiceRules(const std::string& path);

// Pieces of at most 255 characters. A POLICY line sets the policy when its characters 8 to 13 are
// exactly "ACCEPT" or "REJECT"; every other piece, with its line end removed, is appended to
// rules.entries. Returns false and leaves rules unchanged when the file cannot be opened.
bool ReadDesktopRules(const std::string& path, DesktopRules& rules);

// Writes "POLICY ACCEPT" or "POLICY REJECT", then every entry, each line ended by CR LF. The file
// is replaced only when complete. Returns false on failure; never throws.
bool WriteDesktopRules(const std::string& path, const DesktopRules& rules);

}  // namespace corvane
