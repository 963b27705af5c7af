#pragma once

#include <functional>
#include <string>
#include <vector>

namespace corvane {

// One account of users.xml as the desktop's user list shows it.
struct AccountSummary {
  std::string name;
  std::string homedir;
  std::string status;     // "0" when missing or empty
  std::string bandwidth;  // "0" when missing or empty

  bool operator==(const AccountSummary&) const = default;
};

// One enabled account as the service enters it into its user table.
struct EnabledAccount {
  std::string name;
  std::string password;
  std::string homedir;
  std::string bandwidth;  // "0" when missing or empty

  bool operator==(const EnabledAccount&) const = default;
};

// Every child element of the root is an account, whatever its name; accounts are found by their
// "username" text, exactly and case-sensitively, and every account of that name is affected.
// The writers load the file (or start a "users" root when it is missing), change it and save it;
// they throw std::runtime_error when the file cannot be read, parsed or written, and the file is
// then left as it was.

// Appends a "user" with username, password, homedir, status and bandwidth; duplicates are allowed.
void CreateAccount(const std::string& path, const std::string& name, const std::string& password,
                   const std::string& homedir, const std::string& status,
                   const std::string& bandwidth);
// Sets homedir, status and bandwidth (appending any that is missing); the password is untouched.
void UpdateAccount(const std::string& path, const std::string& name, const std::string& homedir,
                   const std::string& status, const std::string& bandwidth);
void SetAccountStatus(const std::string& path, const std::string& name, const std::string& status);
void DeleteAccount(const std::string& path, const std::string& name);

// Every account in file order ("" for a missing name or home directory); empty when the file is
// missing, which is then not created.
std::vector<AccountSummary> ListAccounts(const std::string& path);

// Calls enter for each account whose status is exactly "1", in file order. Returns false when the
// file does not exist. Throws std::runtime_error when the file cannot be read or parsed, or at an
// enabled account without username, password or homedir text, after the accounts before it were
// entered.
bool LoadEnabledAccounts(const std::string& path,
                         const std::function<void(const EnabledAccount&)>& enter);

}  // namespace corvane
