// Data connections, transfers and file operations are not served yet.
#include "service/ftp/command_handlers.h"

namespace corvane {

void CmdPort(TCommand& command) { CmdNotImplemented502(command); }
void CmdEprt(TCommand& command) { CmdNotImplemented502(command); }
void CmdPasv(TCommand& command) { CmdNotImplemented502(command); }
void CmdSpsv(TCommand& command) { CmdNotImplemented502(command); }
void CmdEpsv(TCommand& command) { CmdNotImplemented502(command); }
void CmdRetr(TCommand& command) { CmdNotImplemented502(command); }
void CmdStor(TCommand& command) { CmdNotImplemented502(command); }
void CmdStou(TCommand& command) { CmdNotImplemented502(command); }
void CmdAppe(TCommand& command) { CmdNotImplemented502(command); }
void CmdAbor(TCommand& command) { CmdNotImplemented502(command); }
void CmdRnfr(TCommand& command) { CmdNotImplemented502(command); }
void CmdRnto(TCommand& command) { CmdNotImplemented502(command); }
void CmdDele(TCommand& command) { CmdNotImplemented502(command); }
void CmdMkd(TCommand& command) { CmdNotImplemented502(command); }
void CmdRmd(TCommand& command) { CmdNotImplemented502(command); }
void CmdTransferAbor(TCommand& command) { CmdNotImplemented502(command); }
void CmdTransferStat(TCommand& command) { CmdNotImplemented502(command); }

}  // namespace corvane
