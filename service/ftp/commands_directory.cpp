// CWD, XCWD, CDUP, XCUP, PWD and XPWD.
#include "service/ftp/command_handlers.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftp/virtual_path.h"

namespace corvane {
namespace {

void Enter(TCommand& command, std::string directory) {
  TFtpContext& context = command.Context();
  if (command.Engine().OnChangeDirectory) command.Engine().OnChangeDirectory(context, directory);
  context.CurrentDir = directory;
}

std::string WorkingDirectoryText(const TFtpContext& context) {
  return "\"" + context.CurrentDir + "\" is working directory.";
}

}  // namespace

void CmdCwd(TCommand& command) {
  Enter(command, ChangeDirectoryTarget(command.Context().CurrentDir, command.UnparsedParams()));
  command.Reply.SetReply(250, Substitute("%s Command successful.", command.CommandWord()));
}

void CmdCdup(TCommand& command) {
  Enter(command, ParentDirectoryTarget(command.Context().CurrentDir));
  command.Reply.SetReply(250, WorkingDirectoryText(command.Context()));
}

void CmdPwd(TCommand& command) {
  command.Reply.SetReply(257, WorkingDirectoryText(command.Context()));
}

}  // namespace corvane
