// Directory listings are not served yet.
#include "service/ftp/command_handlers.h"

namespace corvane {

void CmdList(TCommand& command) { CmdNotImplemented502(command); }
void CmdNlst(TCommand& command) { CmdNotImplemented502(command); }
void CmdMlsd(TCommand& command) { CmdNotImplemented502(command); }
void CmdMlst(TCommand& command) { CmdNotImplemented502(command); }
void StatListing(TCommand& command) { CmdNotImplemented502(command); }

}  // namespace corvane
