#include "service/ftp/ftp_context.h"

#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/net/tcp_socket.h"

namespace corvane {

TFtpContext::TFtpContext() = default;
TFtpContext::~TFtpContext() = default;

Endpoint TFtpContext::PeerEndpoint() const {
  return session_->Socket().PeerEndpoint();
}
Endpoint TFtpContext::LocalEndpoint() const {
  return session_->Socket().LocalEndpoint();
}
void TFtpContext::Disconnect() {
  session_->Disconnect();
}

void TFtpContext::Reinitialize() {
  UserType = TUserType::utNone;
  Authenticated = false;
  Username.clear();
  Password.clear();
  CurrentDir = "/";
  HomeDir.clear();
  RNFR.clear();
  RESTPos = 0;
  ALLOSize = 0;
  NLSTUtf8 = false;
  DataType = TDataType::ftASCII;
  DataStruct = TDataStruct::dsFile;
  DataMode = TDataMode::dmStream;
  DataProtection = TDataProtection::Clear;
  PBSZGiven = false;
  PBSZ = 0;
  CCCGiven = false;
  DataPort = 0;
  PASV = false;
  FEPSVAll = false;
  Encoding = TTextEncoding::Latin1;
}

}  // namespace corvane
