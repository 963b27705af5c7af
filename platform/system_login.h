#pragma once

#include <optional>
#include <string>

namespace corvane {

// Checks a name and password against the machine's own accounts through PAM (authentication
// and account management of the given PAM service). Returns the account's home directory
// (pw_dir) when the login is accepted, std::nullopt when it is refused or the account has no
// home directory. Never throws for a refused login.
std::optional<std::string> CheckSystemLogin(const std::string& pam_service, const std::string& user,
                                            const std::string& password);

}  // namespace corvane
