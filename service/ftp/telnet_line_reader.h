#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace corvane {

// Collects FTP command lines from the bytes of a control connection, handling Telnet
// sequences on the way. Only CR LF ends a line; a bare LF is part of it. A line longer than
// kMaxLineLength is not stored: it is reported as overlong when its CR LF arrives.
class TelnetLineReader {
 public:
  static constexpr std::size_t kMaxLineLength = 8192;

  struct Line {
    std::string bytes;
    bool overlong = false;
  };

  // respond receives the bytes the reader answers with (IAC DONT, IAC WONT, ...).
  explicit TelnetLineReader(std::function<void(const std::string&)> respond)
      : respond_(std::move(respond)) {}

  // Consumes bytes from data[*consumed...size) until a line is complete or the data runs out;
  // *consumed is advanced past what was used. Returns the completed line, if any.
  std::optional<Line> Feed(const char* data, std::size_t size, std::size_t* consumed);

  // Whether part of a line has been read.
  bool Pending() const { return state_ != State::Text || !line_.empty() || overlong_; }

 private:
  enum class State {
    Text,
    AfterCr,
    Command,
    Option,
    SubNegotiation,
    SubNegotiationIac,
    SkipToDm,
    SkipToDmIac
  };

  void Append(char c);
  void ClearLine();

  std::function<void(const std::string&)> respond_;
  State state_ = State::Text;
  unsigned char option_verb_ = 0;  // the verb whose option byte is awaited
  std::string line_;
  bool overlong_ = false;
};

}  // namespace corvane
