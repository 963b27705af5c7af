// Both rules.txt readers over arbitrary file content, and the desktop's save-and-load round trip.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/rules_file.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/test_files.h"

namespace corvane {
namespace {

bool HasLineEnd(const std::string& text) {
  return text.find('\n') != std::string::npos;
}

// "address=integer", the integer written in decimal as the service reads it back.
void CheckAddressAndInteger(const std::string& entry) {
  const std::size_t equals = entry.rfind('=');
  FUZZ_CHECK(equals != std::string::npos);
  int value = 0;
  const char* first = entry.data() + equals + 1;
  const char* last = entry.data() + entry.size();
  const auto [end, error] = std::from_chars(first, last, value);
  FUZZ_CHECK(error == std::errc() && end == last);
}

void CheckServiceRules(const ServiceRuleFile& rules) {
  FUZZ_CHECK(rules.opened);
  if (rules.policy) {
    FUZZ_CHECK(rules.policy->size() <= 6);
    FUZZ_CHECK(!HasLineEnd(*rules.policy));
  }
  for (const auto* list : {&rules.delay, &rules.reject, &rules.accept, &rules.limit, &rules.route,
                           &rules.loadBalance}) {
    for (const std::string& entry : *list) {
      FUZZ_CHECK(!HasLineEnd(entry));
      // A piece holds at most 999 characters, the keyword among them.
      FUZZ_CHECK(entry.size() < 999);
    }
  }
  for (const std::string& entry : rules.delay) CheckAddressAndInteger(entry);
  for (const std::string& entry : rules.limit) CheckAddressAndInteger(entry);
  for (const std::string& entry : rules.route) FUZZ_CHECK(entry.find('=') != std::string::npos);
  for (const std::string& entry : rules.loadBalance) {
    FUZZ_CHECK(entry.find('=') != std::string::npos);
  }
  FUZZ_CHECK(std::is_sorted(rules.delay.begin(), rules.delay.end()));
  FUZZ_CHECK(std::is_sorted(rules.reject.begin(), rules.reject.end()));
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  static const testing::TempDir directory;
  const std::string path = directory.File("rules.txt");
  const std::string saved = directory.File("saved.txt");
  testing::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

  CheckServiceRules(ReadServiceRules(path));

  DesktopRules rules;
  FUZZ_CHECK(ReadDesktopRules(path, rules));
  for (const std::string& entry : rules.entries) {
    FUZZ_CHECK(entry.size() <= 255);
    FUZZ_CHECK(!HasLineEnd(entry));
  }
  // What the desktop loads it saves again, and loading that gives the same rules.
  FUZZ_CHECK(WriteDesktopRules(saved, rules));
  DesktopRules again;
  FUZZ_CHECK(ReadDesktopRules(saved, again));
  FUZZ_CHECK(again.policy == rules.policy);
  FUZZ_CHECK(again.entries == rules.entries);
  return 0;
}
