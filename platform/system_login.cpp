#include "platform/system_login.h"

#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace corvane {
namespace {

// Answers every prompt of the PAM conversation: the password for hidden prompts, the user
// name for visible ones.
int Converse(int count, const pam_message** messages, pam_response** responses, void* data) {
  const auto* credentials = static_cast<const std::pair<std::string, std::string>*>(data);
  auto* answers = static_cast<pam_response*>(std::calloc(count, sizeof(pam_response)));
  if (!answers) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_OFF:
        answers[i].resp = ::strdup(credentials->second.c_str());
        break;
      case PAM_PROMPT_ECHO_ON:
        answers[i].resp = ::strdup(credentials->first.c_str());
        break;
      default:
        break;
    }
  }
  *responses = answers;
  return PAM_SUCCESS;
}

struct PamEnd {
  int* status;
  void operator()(pam_handle_t* handle) const { ::pam_end(handle, *status); }
};

std::optional<std::string> HomeDirectoryOf(const std::string& user) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir)
    return std::nullopt;
  return std::string(found->pw_dir);
}

}  // namespace

std::optional<std::string> CheckSystemLogin(const std::string& pam_service, const std::string& user,
                                            const std::string& password) {
  const std::pair<std::string, std::string> credentials(user, password);
  const pam_conv conversation{Converse, const_cast<std::pair<std::string, std::string>*>(&credentials)};
  pam_handle_t* raw = nullptr;
  int status = ::pam_start(pam_service.c_str(), user.c_str(), &conversation, &raw);
  if (status != PAM_SUCCESS) return std::nullopt;
  std::unique_ptr<pam_handle_t, PamEnd> handle(raw, PamEnd{&status});
  status = ::pam_authenticate(raw, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (status != PAM_SUCCESS) return std::nullopt;
  status = ::pam_acct_mgmt(raw, PAM_SILENT);
  if (status != PAM_SUCCESS) return std::nullopt;
  return HomeDirectoryOf(user);
}

}  // namespace corvane
