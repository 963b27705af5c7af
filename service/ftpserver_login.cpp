// Login: the engine's OnUserLogin and the user table filled from users.xml.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "formats/user_accounts.h"
#include "platform/system_login.h"
#include "service/ftpserver.h"
#include "service/mycontext.h"

namespace corvane {
namespace {

// The PAM service whose configuration decides machine-account logins.
constexpr const char* kPamService = "corvane";

std::string WithForwardSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::int32_t ParseBandwidth(const std::string& text) {
  if (text.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX || text.front() == ' ')
    throw std::runtime_error("'" + text + "' is not a valid bandwidth");
  return static_cast<std::int32_t>(value);
}

}  // namespace

bool TFTPServer::OnUserLogin(TFtpContext& context, const std::string& user,
                             const std::string& password) {
  Log(" Loging in....");
  if (auth_option_ == "win") return CheckWindowsUser(context, user, password);
  return CheckXmlUser(context, user, password);
}

bool TFTPServer::CheckXmlUser(TFtpContext& context, const std::string& user,
                              const std::string& password) {
  auto& my_context = static_cast<TMyContext&>(context);
  std::string home;
  {
    std::lock_guard lock(users_lock_);
    const auto found = user_table_.find(user);
    if (found == user_table_.end()) return false;
    const UserEntry& entry = found->second;
    if (entry[0] != password) return false;
    home = entry[1];
    my_context.Bandwidth = ParseBandwidth(entry[2]);
  }
  context.Username = user;
  context.Authenticated = true;
  context.HomeDir = WithForwardSlashes(home);
  context.CurrentDir = "/";
  return true;
}

bool TFTPServer::CheckWindowsUser(TFtpContext& context, const std::string& user,
                                  const std::string& password) {
  const std::optional<std::string> home = CheckSystemLogin(kPamService, user, password);
  if (!home || home->empty()) return false;
  context.Username = user;
  context.CurrentDir = "/";
  context.Authenticated = true;
  context.HomeDir = WithForwardSlashes(*home);
  return true;
}

void TFTPServer::LoadUsers() {
  const bool found = LoadEnabledAccounts(program_directory_ + "/users.xml",
                                         [this](const EnabledAccount& account) {
                                           user_table_[account.name] = {
                                               account.password, account.homedir,
                                               account.bandwidth};
                                         });
  if (found) Log("Users loaded from xml file");
}

void TFTPServer::ReloadUsers() {
  std::lock_guard lock(users_lock_);
  user_table_.clear();
  LoadUsers();
}

}  // namespace corvane
