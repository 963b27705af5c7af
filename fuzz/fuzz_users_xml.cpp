// users.xml over arbitrary bytes: the service's reader of enabled accounts and the desktop's list.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/user_accounts.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/test_files.h"

namespace corvane {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The failures documented for a users.xml that cannot be read.
bool DocumentedFailure(const std::string& message, const std::string& path) {
  return StartsWith(message, "XML file " + path + " is not well-formed: ") ||
         message == "XML document has no document element" ||
         (StartsWith(message, "XML element ") &&
          message.ends_with(" holds other elements instead of a text"));
}

bool DocumentedAccountFailure(const std::string& message, const std::string& path) {
  if (!StartsWith(message, "Enabled account ")) return false;
  for (const char* element : {"username", "password", "homedir"}) {
    if (message.ends_with(" in " + path + " has no " + element + " text")) return true;
  }
  return false;
}

}  // namespace
}  // namespace corvane

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvane;
  static const testing::TempDir directory;
  const std::string path = directory.File("users.xml");
  testing::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));

  std::vector<EnabledAccount> enabled;
  try {
    FUZZ_CHECK(LoadEnabledAccounts(
        path, [&](const EnabledAccount& account) { enabled.push_back(account); }));
  } catch (const std::runtime_error& error) {
    FUZZ_CHECK(DocumentedFailure(error.what(), path) ||
               DocumentedAccountFailure(error.what(), path));
  }
  for (const EnabledAccount& account : enabled) {
    FUZZ_CHECK(!account.name.empty());
    FUZZ_CHECK(!account.password.empty());
    FUZZ_CHECK(!account.homedir.empty());
    FUZZ_CHECK(!account.bandwidth.empty());
  }

  std::vector<AccountSummary> listed;
  try {
    listed = ListAccounts(path);
  } catch (const std::runtime_error& error) {
    FUZZ_CHECK(DocumentedFailure(error.what(), path));
    return 0;
  }
  // Every enabled account is listed with status exactly "1", in the same order.
  std::size_t next = 0;
  for (const AccountSummary& account : listed) {
    FUZZ_CHECK(!account.status.empty());
    FUZZ_CHECK(!account.bandwidth.empty());
    if (account.status != "1" || next >= enabled.size()) continue;
    FUZZ_CHECK(account.name == enabled[next].name);
    FUZZ_CHECK(account.homedir == enabled[next].homedir);
    FUZZ_CHECK(account.bandwidth == enabled[next].bandwidth);
    ++next;
  }
  FUZZ_CHECK(next == enabled.size());
  return 0;
}
