// The arguments of PORT, EPRT and EPSV over arbitrary text, checked against their contracts.
// The first input byte chooses the parser; the rest is the argument.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "service/ftp/commands_data.h"

namespace corvane {
namespace {

// A decimal number as the contracts mean it: blanks (space, tab) around, an optional sign,
// then digits only. Values past 64 bits saturate; they are out of every range checked here.
struct Number {
  bool sign = false;
  long long value = 0;
};

std::optional<Number> ReadNumber(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  const std::size_t end = text.find_last_not_of(" \t") + 1;
  std::size_t at = begin;
  Number number;
  bool negative = false;
  if (text[at] == '+' || text[at] == '-') {
    number.sign = true;
    negative = text[at++] == '-';
  }
  if (at == end) return std::nullopt;
  for (; at < end; ++at) {
    if (text[at] < '0' || text[at] > '9') return std::nullopt;
    const int digit = text[at] - '0';
    number.value = number.value > (LLONG_MAX - digit) / 10 ? LLONG_MAX : number.value * 10 + digit;
  }
  if (negative) number.value = -number.value;
  return number;
}

std::vector<std::string> Split(const std::string& text, char delimiter) {
  std::vector<std::string> fields;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = text.find(delimiter, begin);
    fields.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) return fields;
    begin = end + 1;
  }
}

void CheckPort(const std::string& text) {
  const std::optional<TPortArgument> parsed = ParsePortArgument(text);
  const std::vector<std::string> fields = Split(text, ',');
  bool valid = fields.size() == 6;
  std::vector<long long> numbers;
  for (const std::string& field : fields) {
    const std::optional<Number> number = ReadNumber(field);
    valid = valid && number && !number->sign && number->value <= 255;
    if (number) numbers.push_back(number->value);
  }
  FUZZ_CHECK(parsed.has_value() == valid);
  if (!parsed) return;
  FUZZ_CHECK(parsed->address == fields[0] + "." + fields[1] + "." + fields[2] + "." + fields[3]);
  FUZZ_CHECK(parsed->port == numbers[4] * 256 + numbers[5]);

  // What PASV would announce for the same address and port parses back to them.
  const std::string address = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                              std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  const std::string announced = PassiveModeText(Endpoint{address, parsed->port, AF_INET});
  const std::size_t open = announced.find('(');
  const std::size_t close = announced.find(')');
  FUZZ_CHECK(open != std::string::npos && close != std::string::npos && open < close);
  const std::optional<TPortArgument> again =
      ParsePortArgument(announced.substr(open + 1, close - open - 1));
  FUZZ_CHECK(again && again->address == address && again->port == parsed->port);
}

void CheckEprt(const std::string& text) {
  const std::optional<TEprtArgument> parsed = ParseEprtArgument(text);
  if (text.empty()) {
    FUZZ_CHECK(!parsed);
    return;
  }
  const std::vector<std::string> fields = Split(text.substr(1), text[0]);
  const bool shaped = fields.size() == 4 && fields[3].empty();
  const std::optional<Number> port = shaped ? ReadNumber(fields[2]) : std::nullopt;
  const bool port_in_range = !port || (port->value >= 0 && port->value <= 65535);
  FUZZ_CHECK(parsed.has_value() == (shaped && port_in_range));
  if (!parsed) return;
  FUZZ_CHECK(parsed->address == fields[1]);
  FUZZ_CHECK(parsed->port == (port ? port->value : 0));
  const std::optional<Number> protocol = ReadNumber(fields[0]);
  const bool protocol_known = protocol && protocol->value >= -1 && protocol->value <= INT_MAX;
  FUZZ_CHECK(parsed->protocol == (protocol_known ? protocol->value : -1));
}

void CheckEpsv(const std::string& text) {
  const std::optional<int> parsed = ParseEpsvProtocol(text);
  const std::optional<Number> number = ReadNumber(text);
  const bool valid = number && number->value >= INT_MIN && number->value <= INT_MAX;
  FUZZ_CHECK(parsed.has_value() == valid);
  if (parsed) FUZZ_CHECK(*parsed == number->value);
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0:
      CheckPort(text);
      break;
    case 1:
      CheckEprt(text);
      break;
    default:
      CheckEpsv(text);
      break;
  }
  return 0;
}
