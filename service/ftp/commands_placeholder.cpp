// Commands that exist in the table but have no facility behind them here.
#include "service/ftp/command_handlers.h"
#include "service/ftp/control_session.h"
#include "service/ftp/ftp_command.h"

namespace corvane {

void CmdNotImplemented502(TCommand& command) {
  command.Reply.SetReply(502, Substitute("\"%s\" Command not implemented.", command.CommandWord()));
}

void CmdNotImplemented550(TCommand& command) {
  command.Reply.SetReply(550, Substitute("\"%s\" Command not implemented.", command.CommandWord()));
}

void CmdNotUnderstood(TCommand& command) {
  command.Reply.SetReply(500, ControlSession::NotUnderstoodText(command.RawLine()));
}

void CmdSmnt(TCommand& command) {
  command.Reply.SetReply(502, "Requested file action okay, completed.");
}

}  // namespace corvane
