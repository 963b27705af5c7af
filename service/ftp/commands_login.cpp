// USER, PASS, REIN and QUIT.
#include "service/ftp/command_handlers.h"
#include "service/ftp/control_session.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"

namespace corvane {

void CmdUser(TCommand& command) {
  TFtpContext& context = command.Context();
  context.Authenticated = false;  // a USER after login logs the user out
  context.UserType = TUserType::utNormalUser;
  if (command.UnparsedParams().empty()) {
    command.Reply.SetReply(332, "Need account for login.");
    return;
  }
  context.Username = command.UnparsedParams();
  command.Reply.SetReply(331, "User name okay, need password.");
}

void CmdPass(TCommand& command) {
  TFtpContext& context = command.Context();
  if (context.UserType == TUserType::utNone) {
    command.Reply.SetReply(503, "Login with USER first.");
    return;
  }
  context.Authenticated = false;
  const TFtpEngine& engine = command.Engine();
  const bool accepted =
      engine.OnUserLogin && engine.OnUserLogin(context, context.Username, command.UnparsedParams());
  if (accepted) {
    context.Password = command.UnparsedParams();
    context.Authenticated = true;
    context.PasswordAttempts = 0;
    command.Reply.SetReply(230, "User logged in, proceed.");
    return;
  }
  context.Password.clear();
  ++context.PasswordAttempts;
  const unsigned limit = context.Security.PasswordAttempts;
  if (limit > 0 && context.PasswordAttempts >= limit) {
    command.Reply.SetReply(421, "Service not available, closing control connection.");
    command.Disconnect = true;
    return;
  }
  command.Reply.SetReply(530, "Not logged in.");
}

void CmdRein(TCommand& command) {
  TFtpContext& context = command.Context();
  context.Reinitialize();
  command.Session().StopTls();  // no shutdown exchange; the reply goes out in plain text
  command.Reply.SetReply(220, "Service ready for new user.");
}

// The table entry carries the disconnect flag: the connection closes after this reply.
void CmdQuit(TCommand& command) {
  command.Reply.SetReply(221, "Goodbye.");
}

}  // namespace corvane
