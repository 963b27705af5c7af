// Bandwidth limits on data connections; no data connection is served yet.
#include "service/ftpserver.h"

namespace corvane {

void TFTPServer::OnDataPortAfterBind(TFtpContext& context) { ApplyThrottle(context, false); }

void TFTPServer::ApplyThrottle(TFtpContext&, bool) {}

}  // namespace corvane
