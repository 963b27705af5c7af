#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Collects the request lines of a management connection byte by byte, holding at most one
// bounded line: LF ends a line, the CR before it is dropped and characters outside 7-bit ASCII
// become "?".
class CmdLineAssembler {
 public:
  static constexpr std::size_t kMaxLineLength = 16384;

  enum class Result { kMore, kLine, kOverlong };

  // Takes the next byte. kLine: *line holds the completed line. kOverlong: the line grew past
  // kMaxLineLength characters (one more is allowed only as the CR before the LF); the
  // connection is to be ended. kMore: the line goes on.
  Result Push(char c, std::string* line);

 private:
  std::string pending_;
};

// Whether the request line selects the command name: ignoring letter case, the line equals the
// name or begins with it and a blank. *arguments then gets the text after the blank.
bool SelectsCommand(std::string_view line, std::string_view name, std::string_view* arguments);

// The words of the arguments; runs of blanks separate them and no word is empty.
std::vector<std::string> SplitAtBlanks(std::string_view text);

}  // namespace corvane
