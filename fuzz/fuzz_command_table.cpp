// The main command table's match over arbitrary command lines.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  // The engine registers its tables when constructed; it opens no socket before activation.
  static const TFtpEngine engine;
  const TCommandTable& table = engine.CommandHandlers();

  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::size_t space = line.find(' ');
  const std::string word = UpperCase(line.substr(0, space));

  // The entry that should run: the first one whose word is the line's first word, upper-cased.
  const TCommandHandler* expected = nullptr;
  for (const TCommandHandler& entry : table.Entries()) {
    FUZZ_CHECK(entry.Command == UpperCase(entry.Command));
    if (entry.Command == word) {
      expected = &entry;
      break;
    }
  }
  std::string parameters = "untouched";
  const TCommandHandler* match = table.Match(line, &parameters);
  FUZZ_CHECK(match == expected);
  if (match) {
    FUZZ_CHECK(parameters == (space == std::string::npos ? "" : line.substr(space + 1)));
  }
  FUZZ_CHECK(table.Find(line.substr(0, space)) == expected);
  return 0;
}
