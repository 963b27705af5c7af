#include "formats/user_accounts.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <stdexcept>

#include "formats/xml_document.h"

namespace corvane {
namespace {

// Only a file that is really not there counts as missing; any other trouble is left to the load,
// which reports it.
bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

// The writers' frame: the existing document, or a new one with an empty "users" root.
XmlDocument LoadOrStart(const std::string& path) {
  if (FileExists(path)) return XmlDocument::Load(path);
  XmlDocument document = XmlDocument::Create();
  document.AddDocumentElement("users");
  return document;
}

bool IsAccountOf(const XmlElement& account, const std::string& name) {
  return account.ChildValue("username") == name;
}

std::string ValueOr(const XmlElement& account, const char* element, const char* fallback) {
  return account.ChildValue(element).value_or(fallback);
}

std::string RequiredValue(const XmlElement& account, const std::string& path, std::size_t position,
                          const char* element) {
  std::optional<std::string> value = account.ChildValue(element);
  if (value) return *value;
  std::string which = "Enabled account " + std::to_string(position + 1);
  if (std::optional<std::string> name = account.ChildValue("username")) {
    which += " (" + *name + ")";
  }
  throw std::runtime_error(which + " in " + path + " has no " + element + " text");
}

// Applies change to every account of that name and saves the document.
template <typename Change>
void ChangeAccounts(const std::string& path, const std::string& name, Change change) {
  XmlDocument document = LoadOrStart(path);
  for (XmlElement account : document.DocumentElement().Children()) {
    if (IsAccountOf(account, name)) change(account);
  }
  document.Save(path);
}

}  // namespace

void CreateAccount(const std::string& path, const std::string& name, const std::string& password,
                   const std::string& homedir, const std::string& status,
                   const std::string& bandwidth) {
  XmlDocument document = LoadOrStart(path);
  XmlElement user = document.DocumentElement().AddChild("user");
  user.AddChild("username").SetText(name);
  user.AddChild("password").SetText(password);
  user.AddChild("homedir").SetText(homedir);
  user.AddChild("status").SetText(status);
  user.AddChild("bandwidth").SetText(bandwidth);
  document.Save(path);
}

void UpdateAccount(const std::string& path, const std::string& name, const std::string& homedir,
                   const std::string& status, const std::string& bandwidth) {
  ChangeAccounts(path, name, [&](XmlElement& account) {
    account.SetChildValue("homedir", homedir);
    account.SetChildValue("status", status);
    account.SetChildValue("bandwidth", bandwidth);
  });
}

void SetAccountStatus(const std::string& path, const std::string& name, const std::string& status) {
  ChangeAccounts(path, name, [&](XmlElement& account) { account.SetChildValue("status", status); });
}

void DeleteAccount(const std::string& path, const std::string& name) {
  XmlDocument document = LoadOrStart(path);
  XmlElement root = document.DocumentElement();
  // Positions shift down by one with each removal; counting them keeps every account in view.
  std::size_t removed = 0;
  std::vector<XmlElement> accounts = root.Children();
  for (std::size_t position = 0; position < accounts.size(); ++position) {
    if (!IsAccountOf(accounts[position], name)) continue;
    root.DeleteChild(position - removed);
    ++removed;
  }
  document.Save(path);
}

std::vector<AccountSummary> ListAccounts(const std::string& path) {
  std::vector<AccountSummary> accounts;
  if (!FileExists(path)) return accounts;
  XmlDocument document = XmlDocument::Load(path);
  for (const XmlElement& account : document.DocumentElement().Children()) {
    accounts.push_back({ValueOr(account, "username", ""), ValueOr(account, "homedir", ""),
                        ValueOr(account, "status", "0"), ValueOr(account, "bandwidth", "0")});
  }
  return accounts;
}

bool LoadEnabledAccounts(const std::string& path,
                         const std::function<void(const EnabledAccount&)>& enter) {
  if (!FileExists(path)) return false;
  XmlDocument document = XmlDocument::Load(path);
  std::vector<XmlElement> accounts = document.DocumentElement().Children();
  for (std::size_t position = 0; position < accounts.size(); ++position) {
    const XmlElement& account = accounts[position];
    if (account.ChildValue("status") != "1") continue;
    EnabledAccount entry;
    entry.name = RequiredValue(account, path, position, "username");
    entry.password = RequiredValue(account, path, position, "password");
    entry.homedir = RequiredValue(account, path, position, "homedir");
    entry.bandwidth = ValueOr(account, "bandwidth", "0");
    enter(entry);
  }
  return true;
}

}  // namespace corvane
