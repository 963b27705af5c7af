#include "service/net/cmd_request.h"

namespace corvane {
namespace {

char ToAscii(char c) {
  return static_cast<unsigned char>(c) < 0x80 ? c : '?';
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

}  // namespace

CmdLineAssembler::Result CmdLineAssembler::Push(char c, std::string* line) {
  if (c == '\n') {
    line->swap(pending_);
    pending_.clear();
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return Result::kLine;
  }
  pending_.push_back(ToAscii(c));
  // SECURITY: a request line is bounded, so a peer cannot make the server hold unbounded text.
  // One character beyond the bound is allowed only as the CR that ends the line.
  const std::size_t held = pending_.size();
  if (held > kMaxLineLength + 1 || (held == kMaxLineLength + 1 && c != '\r'))
    return Result::kOverlong;
  return Result::kMore;
}

bool SelectsCommand(std::string_view line, std::string_view name, std::string_view* arguments) {
  if (line.size() < name.size() || !EqualsIgnoringCase(line.substr(0, name.size()), name))
    return false;
  if (line.size() == name.size()) {
    *arguments = {};
    return true;
  }
  if (line[name.size()] != ' ') return false;
  *arguments = line.substr(name.size() + 1);
  return true;
}

std::vector<std::string> SplitAtBlanks(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t blank = text.find(' ', start);
    const std::size_t end = blank == std::string_view::npos ? text.size() : blank;
    if (end > start) words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

}  // namespace corvane
