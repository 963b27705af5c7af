// Admission of new FTP connections by the access rules.
#include "service/ftp/ftp_context.h"
#include "service/ftpserver.h"
#include "service/rulesprocessor.h"

namespace corvane {

void TFTPServer::OnConnect(TFtpContext& context) {
  if (!rules_) return;
  // Admit throws when a rule cannot be interpreted; the engine then closes the connection
  // without a greeting.
  if (!rules_->Admit(context.PeerEndpoint().address, [this](const std::string& line) { Log(line); }))
    context.Disconnect();
}

}  // namespace corvane
