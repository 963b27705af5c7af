// Directory listings are not served yet.
#include "service/ftpserver.h"

namespace corvane {

void TFTPServer::OnListDirectory(TFtpContext&, const std::string&, const std::string&,
                                 const std::string&, TListOutput&) {}

}  // namespace corvane
