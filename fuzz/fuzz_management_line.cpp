// The management port's request lines over arbitrary connection bytes: the line bound, the
// command word that selects a handler and the parameters (the first of them is the password).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "service/net/cmd_request.h"

namespace corvane {
namespace {

constexpr std::size_t kBound = CmdLineAssembler::kMaxLineLength;

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string AsAscii(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  return text;
}

void CheckDispatch(const std::string& line) {
  const std::size_t blank = line.find(' ');
  const std::string word = Lower(line.substr(0, blank));
  for (const char* name : {"USERSSTATUS", "USERSRELOAD", "RULESRELOAD"}) {
    std::string_view arguments = "untouched";
    const bool selected = SelectsCommand(line, name, &arguments);
    FUZZ_CHECK(selected == (word == Lower(name)));
    if (!selected) continue;
    const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    FUZZ_CHECK(arguments == rest);
    // The words are the blank-free runs of the arguments, in order.
    const std::vector<std::string> params = SplitAtBlanks(arguments);
    std::string joined;
    for (const std::string& param : params) {
      FUZZ_CHECK(!param.empty());
      FUZZ_CHECK(param.find(' ') == std::string::npos);
      joined += param;
    }
    std::string without_blanks = rest;
    std::erase(without_blanks, ' ');
    FUZZ_CHECK(joined == without_blanks);
  }
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  const std::string input(reinterpret_cast<const char*>(data), size);
  CmdLineAssembler assembler;
  std::string line;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < input.size(); ++i) {
    const CmdLineAssembler::Result result = assembler.Push(input[i], &line);
    // How many bytes the peer sent since the previous LF, this one included.
    const std::size_t sent = i + 1 - line_start;
    const bool held_within_bound = sent <= kBound || (sent == kBound + 1 && input[i] == '\r');
    if (result == CmdLineAssembler::Result::kOverlong) {
      FUZZ_CHECK(input[i] != '\n' && !held_within_bound);
      return 0;  // the connection ends here
    }
    if (result == CmdLineAssembler::Result::kMore) {
      FUZZ_CHECK(input[i] != '\n' && held_within_bound);
      continue;
    }
    FUZZ_CHECK(input[i] == '\n');
    std::string expected = input.substr(line_start, i - line_start);
    if (!expected.empty() && expected.back() == '\r') expected.pop_back();
    FUZZ_CHECK(expected.size() <= kBound);
    FUZZ_CHECK(line == AsAscii(expected));
    CheckDispatch(line);
    line_start = i + 1;
  }
  return 0;
}
