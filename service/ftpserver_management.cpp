// The management port's command handlers: USERSSTATUS, USERSRELOAD and RULESRELOAD, each
// authorised by the password given as its first parameter.
#include <cstddef>
#include <exception>
#include <string>

#include "service/ftp/ftp_engine.h"
#include "service/ftpserver.h"
#include "service/net/cmd_server.h"
#include "service/rulesprocessor.h"

namespace corvane {
namespace {

// SECURITY: compares without stopping at the first difference, so the time taken does not tell
// how much of a guessed password was right; it depends on the guess's length only.
bool SamePassword(const std::string& given, const std::string& expected) {
  unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    const unsigned char want = expected.empty() ? 0 : expected[i % expected.size()];
    difference |= static_cast<unsigned char>(given[i] ^ want);
  }
  return difference == 0;
}

}  // namespace

bool TFTPServer::CheckManagementPassword(TCmdCommand& command) {
  if (command.Params().empty()) {
    command.SetReply(500, "Password required");
    return false;
  }
  if (!SamePassword(command.Params().front(), management_password_)) {
    command.SetReply(201, "Authorization failed");
    Log("Unauthorized request received at management port");
    return false;
  }
  return true;
}

void TFTPServer::OnUsersStatus(TCmdCommand& command) {
  if (!CheckManagementPassword(command)) return;
  // Counted under the engine's connection-list lock; connections not yet logged in count too.
  command.SetReply(200, std::to_string(engine_->ConnectionCount()));
}

void TFTPServer::OnUsersReload(TCmdCommand& command) {
  if (!CheckManagementPassword(command)) return;
  try {
    ReloadUsers();
    command.SetReply(200, "Done");
  } catch (const std::exception& error) {
    // The accounts read before the failure stay in the table.
    command.SetReply(500, error.what());
  }
}

void TFTPServer::OnRulesReload(TCmdCommand& command) {
  if (!CheckManagementPassword(command)) return;
  // A missing or unreadable rules file is no failure: the rule set is then empty.
  if (rules_) rules_->Load();
  command.SetReply(200, "Done");
}

}  // namespace corvane
