// TelnetLineReader over arbitrary control-connection bytes, fed in pieces whose size the first
// input byte chooses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "service/ftp/telnet_line_reader.h"

namespace corvane {
namespace {

using Line = TelnetLineReader::Line;
constexpr unsigned char kIac = 255;

struct Outcome {
  std::vector<Line> lines;
  std::vector<std::string> responses;
};

bool SameLines(const std::vector<Line>& a, const std::vector<Line>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Line& x, const Line& y) {
    return x.bytes == y.bytes && x.overlong == y.overlong;
  });
}

Outcome ReadInPieces(const std::string& input, std::size_t piece_size) {
  Outcome outcome;
  TelnetLineReader reader([&](const std::string& reply) { outcome.responses.push_back(reply); });
  for (std::size_t start = 0; start < input.size(); start += piece_size) {
    const std::size_t size = std::min(piece_size, input.size() - start);
    std::size_t consumed = 0;
    while (consumed < size) {
      const std::size_t before = consumed;
      std::optional<Line> line = reader.Feed(input.data() + start, size, &consumed);
      FUZZ_CHECK(consumed > before);
      FUZZ_CHECK(consumed <= size);
      // Without a line the reader has used up the piece.
      FUZZ_CHECK(line || consumed == size);
      if (line) outcome.lines.push_back(std::move(*line));
    }
  }
  return outcome;
}

// A reply is IAC DONT/WONT and the option, or IAC IP IAC DM (the answer to Abort Output).
bool WellFormedReply(const std::string& reply) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(reply[i]); };
  if (reply.size() == 3) return at(0) == kIac && (at(1) == 254 || at(1) == 252);
  if (reply.size() == 4) return at(0) == kIac && at(1) == 244 && at(2) == kIac && at(3) == 242;
  return false;
}

// The lines of input that holds no IAC: CR LF ends a line, CR NUL stands for a CR, every other
// byte is kept; a line over the bound is reported overlong and empty.
std::vector<Line> LinesWithoutTelnet(const std::string& input) {
  std::vector<Line> lines;
  std::string line;
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n') {
      const bool overlong = line.size() > TelnetLineReader::kMaxLineLength;
      lines.push_back({overlong ? std::string() : line, overlong});
      line.clear();
      ++i;
    } else if (input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\0') {
      line += '\r';
      ++i;
    } else {
      line += input[i];
    }
  }
  return lines;
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  if (size == 0) return 0;
  const std::size_t piece_size = data[0] == 0 ? size : data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

  const Outcome outcome = ReadInPieces(input, piece_size);
  std::size_t iac_pairs = 0;
  for (std::size_t i = 0; i + 1 < input.size(); ++i) {
    if (static_cast<unsigned char>(input[i]) == kIac &&
        static_cast<unsigned char>(input[i + 1]) == kIac) {
      ++iac_pairs;
      ++i;
    }
  }
  std::size_t iac_in_lines = 0;
  for (const Line& line : outcome.lines) {
    FUZZ_CHECK(line.bytes.size() <= TelnetLineReader::kMaxLineLength);
    FUZZ_CHECK(!line.overlong || line.bytes.empty());
    iac_in_lines += std::count(line.bytes.begin(), line.bytes.end(), static_cast<char>(kIac));
  }
  // An IAC byte reaches a line only as the second half of IAC IAC.
  FUZZ_CHECK(iac_in_lines <= iac_pairs);
  for (const std::string& reply : outcome.responses) FUZZ_CHECK(WellFormedReply(reply));

  // However the bytes are cut, the lines and replies are the same.
  const Outcome whole = ReadInPieces(input, input.size() + 1);
  FUZZ_CHECK(SameLines(outcome.lines, whole.lines));
  FUZZ_CHECK(outcome.responses == whole.responses);

  if (input.find(static_cast<char>(kIac)) == std::string::npos) {
    FUZZ_CHECK(outcome.responses.empty());
    FUZZ_CHECK(SameLines(outcome.lines, LinesWithoutTelnet(input)));
    // Every CR LF on the wire ended a line. A line holds a CR LF pair only when the client spelt
    // it as CR NUL LF (or, with Telnet commands, erased what stood between a CR and an LF).
    if (input.find(std::string("\r\0\n", 3)) == std::string::npos) {
      for (const Line& line : outcome.lines)
        FUZZ_CHECK(line.bytes.find("\r\n") == std::string::npos);
    }
  }
  return 0;
}
