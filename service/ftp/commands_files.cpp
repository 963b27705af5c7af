// DELE, MKD/XMKD, RMD/XRMD, RNFR and RNTO: file operations done by the program's handlers.
#include <stdexcept>

#include "service/ftp/command_handlers.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftp/virtual_path.h"

namespace corvane {
namespace {

constexpr const char* kCompleted = "Requested file action okay, completed.";

using TPathEvent = std::function<void(TFtpContext&, const std::string&)>;

// Runs the handler on the canonical path; without a handler the operation fails with
// failure_text.
void RunPathEvent(TCommand& command, const TPathEvent& event, const char* failure_text) {
  TFtpContext& context = command.Context();
  if (!event) throw std::runtime_error(failure_text);
  event(context, Canonicalise(context.CurrentDir, command.UnparsedParams()));
}

}  // namespace

void CmdDele(TCommand& command) {
  RunPathEvent(command, command.Engine().OnDeleteFile, "Failed to delete");
  command.Reply.SetReply(250, kCompleted);
}

void CmdMkd(TCommand& command) {
  RunPathEvent(command, command.Engine().OnMakeDirectory, "Failed to create dir");
  command.Reply.SetReply(257, kCompleted);
}

void CmdRmd(TCommand& command) {
  RunPathEvent(command, command.Engine().OnRemoveDirectory, "Failed to remove dir");
  command.Reply.SetReply(250, kCompleted);
}

void CmdRnfr(TCommand& command) {
  TFtpContext& context = command.Context();
  context.RNFR = Canonicalise(context.CurrentDir, command.UnparsedParams());
  command.Reply.SetReply(350, "Requested file action pending further information.");
}

void CmdRnto(TCommand& command) {
  TFtpContext& context = command.Context();
  const TFtpEngine& engine = command.Engine();
  // RNFR stays set: a second RNTO tries the same old path again.
  if (context.RNFR.empty() || !engine.OnRenameFile) throw std::runtime_error("Failed to rename");
  engine.OnRenameFile(context, context.RNFR,
                      Canonicalise(context.CurrentDir, command.UnparsedParams()));
  command.Reply.SetCode(250);  // the default text: "Ok"
  command.Reply.Lines().clear();
}

}  // namespace corvane
