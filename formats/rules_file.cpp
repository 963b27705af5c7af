#include "formats/rules_file.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string_view>

#include "formats/replace_file.h"

namespace corvane {
namespace {

constexpr std::size_t kServicePiece = 999;  // a 1,000-byte buffer
constexpr std::size_t kDesktopPiece = 255;  // a 256-byte buffer

// Hands out the file in pieces: up to and including the next LF, or `limit` characters.
class PieceReader {
 public:
  PieceReader(const std::string& path, std::size_t limit) : limit_(limit) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) return;
    in_.open(path, std::ios::binary);
  }

  bool Opened() const { return in_.is_open(); }

  bool Next(std::string& piece) {
    for (;;) {
      const bool line_goes_on = line_goes_on_;
      piece.clear();
      while (piece.size() < limit_) {
        int c = in_.get();
        if (c == std::char_traits<char>::eof()) break;
        // The desktop's text mode turns CR LF into LF; reading in binary, do the same here.
        if (c == '\r' && in_.peek() == '\n') c = in_.get();
        piece.push_back(static_cast<char>(c));
        if (c == '\n') break;
      }
      if (piece.empty()) return false;
      line_goes_on_ = piece.back() != '\n';
      // The line end of a line that exactly filled the previous piece ends that piece; it is no
      // empty line of its own (which the desktop would otherwise add at every save).
      if (line_goes_on && piece == "\n") continue;
      if (piece.back() == '\r') piece.pop_back();
      return true;
    }
  }

 private:
  std::ifstream in_;
  std::size_t limit_;
  bool line_goes_on_ = false;  // the previous piece was full before its line ended
};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Characters 8 to 13 (counted from 1) of the piece without its line end.
std::string PolicyField(std::string_view piece) {
  if (!piece.empty() && piece.back() == '\n') piece.remove_suffix(1);
  return std::string(piece.size() > 7 ? piece.substr(7, 6) : std::string_view());
}

bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Blanks and control characters at either end are cut off.
std::string Trim(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// Reads the fields after a keyword the way the patterns "KEYWORD %s" and "KEYWORD %s %d" do:
// white space before a field is skipped, a word is a run of non-space characters, and an integer
// is an optional sign followed by digits (the text after it is left alone).
class FieldScanner {
 public:
  explicit FieldScanner(std::string_view rest) : rest_(rest) {}

  std::optional<std::string> Word() {
    SkipSpace();
    std::size_t length = 0;
    while (length < rest_.size() && !IsScanSpace(rest_[length])) ++length;
    if (length == 0) return std::nullopt;
    std::string word(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return word;
  }

  std::optional<int> Integer() {
    SkipSpace();
    std::size_t at = 0;
    bool negative = false;
    if (at < rest_.size() && (rest_[at] == '+' || rest_[at] == '-')) negative = rest_[at++] == '-';
    std::int64_t value = 0;
    const std::size_t first_digit = at;
    // Values beyond the int range saturate at its ends.
    constexpr std::int64_t kCap = std::int64_t{std::numeric_limits<int>::max()} + 1;
    for (; at < rest_.size() && rest_[at] >= '0' && rest_[at] <= '9'; ++at) {
      value = std::min(value * 10 + (rest_[at] - '0'), kCap);
    }
    if (at == first_digit) return std::nullopt;
    rest_.remove_prefix(at);
    if (negative) value = -value;
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
  }

 private:
  void SkipSpace() {
    while (!rest_.empty() && IsScanSpace(rest_.front())) rest_.remove_prefix(1);
  }

  std::string_view rest_;
};

std::optional<std::string> ReadAddress(std::string_view rest) {
  std::optional<std::string> address = FieldScanner(rest).Word();
  if (!address) return std::nullopt;
  return Trim(*address);
}

std::optional<std::string> ReadAddressAndInteger(std::string_view rest) {
  FieldScanner scanner(rest);
  std::optional<std::string> address = scanner.Word();
  if (!address) return std::nullopt;
  std::optional<int> number = scanner.Integer();
  if (!number) return std::nullopt;
  return Trim(*address) + "=" + std::to_string(*number);
}

std::optional<std::string> ReadAddressAndTarget(std::string_view rest) {
  FieldScanner scanner(rest);
  std::optional<std::string> address = scanner.Word();
  if (!address) return std::nullopt;
  std::optional<std::string> target = scanner.Word();
  if (!target) return std::nullopt;
  return Trim(*address) + "=" + Trim(*target);
}

void ReadServiceLine(std::string_view line, ServiceRuleFile& rules) {
  using Reader = std::optional<std::string> (*)(std::string_view);
  struct Kind {
    std::string_view keyword;
    Reader read;
    std::vector<std::string> ServiceRuleFile::*list;
  };
  static constexpr Kind kKinds[] = {
      {"DELAY", ReadAddressAndInteger, &ServiceRuleFile::delay},
      {"REJECT", ReadAddress, &ServiceRuleFile::reject},
      {"ACCEPT", ReadAddress, &ServiceRuleFile::accept},
      {"LIMITMAX", ReadAddressAndInteger, &ServiceRuleFile::limit},
      {"ROUTE", ReadAddressAndTarget, &ServiceRuleFile::route},
      {"LOADBALANCERANDAM", ReadAddressAndTarget, &ServiceRuleFile::loadBalance},
  };

  if (StartsWith(line, "POLICY")) {
    rules.policy = PolicyField(line);
    return;
  }
  for (const Kind& kind : kKinds) {
    if (!StartsWith(line, kind.keyword)) continue;
    if (std::optional<std::string> entry = kind.read(line.substr(kind.keyword.size()))) {
      (rules.*kind.list).push_back(std::move(*entry));
    }
    return;
  }
}

}  // namespace

ServiceRuleFile ReadServiceRules(const std::string& path) {
  ServiceRuleFile rules;
  PieceReader reader(path, kServicePiece);
  if (!reader.Opened()) return rules;
  rules.opened = true;
  std::string piece;
  while (reader.Next(piece)) ReadServiceLine(piece, rules);
  std::sort(rules.reject.begin(), rules.reject.end());
  std::sort(rules.delay.begin(), rules.delay.end());
  return rules;
}

bool ReadDesktopRules(const std::string& path, DesktopRules& rules) {
  PieceReader reader(path, kDesktopPiece);
  if (!reader.Opened()) return false;
  std::string piece;
  while (reader.Next(piece)) {
    if (StartsWith(piece, "POLICY")) {
      const std::string value = PolicyField(piece);
      if (value == "ACCEPT") rules.policy = DesktopRules::Policy::AcceptAll;
      if (value == "REJECT") rules.policy = DesktopRules::Policy::RejectAll;
      continue;
    }
    std::erase(piece, '\n');
    rules.entries.push_back(piece);
  }
  return true;
}

bool WriteDesktopRules(const std::string& path, const DesktopRules& rules) {
  try {
    std::string content =
        rules.policy == DesktopRules::Policy::AcceptAll ? "POLICY ACCEPT\r\n" : "POLICY REJECT\r\n";
    for (const std::string& entry : rules.entries) {
      // Text mode writes every LF as CR LF.
      for (char c : entry) {
        if (c == '\n') content += '\r';
        content += c;
      }
      content += "\r\n";
    }
    ReplaceFileContent(path, content);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace corvane
