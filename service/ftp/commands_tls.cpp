// TLS commands: the TLS session layer is not served yet, so each answers "not implemented".
#include "service/ftp/command_handlers.h"

namespace corvane {

void CmdAuth(TCommand& command) {
  CmdNotImplemented502(command);
}
void CmdPbsz(TCommand& command) {
  CmdNotImplemented502(command);
}
void CmdProt(TCommand& command) {
  CmdNotImplemented502(command);
}
void CmdCcc(TCommand& command) {
  CmdNotImplemented502(command);
}
void CmdSscn(TCommand& command) {
  CmdNotImplemented502(command);
}
void CmdCpsv(TCommand& command) {
  CmdNotImplemented502(command);
}

}  // namespace corvane
