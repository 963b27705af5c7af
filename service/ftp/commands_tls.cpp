// AUTH, PBSZ, PROT, CCC, SSCN and CPSV: explicit TLS on the control and data connections.
#include <strings.h>

#include <algorithm>
#include <cctype>

#include "service/ftp/command_handlers.h"
#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_context.h"
#include "service/net/tls_stream.h"

namespace corvane {
namespace {

constexpr const char* kAfterCcc = "Not permitted after CCC";
constexpr const char* kBadParameter = "Command not implemented for that parameter.";

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

}  // namespace

void CmdAuth(TCommand& command) {
  // The mechanism names are compared with case, as the clients send them.
  const std::string& mechanism = command.UnparsedParams();
  TDataProtection protection;
  if (mechanism == "TLS" || mechanism == "TLS-C") {
    protection = TDataProtection::Clear;
  } else if (mechanism == "SSL" || mechanism == "TLS-P") {
    protection = TDataProtection::Private;
  } else {
    CmdNotUnderstood(command);
    return;
  }
  ControlSession& session = command.Session();
  TFtpContext& context = command.Context();
  command.SendReply = false;
  // Written at once: in plain text before the handshake, or through the session that is
  // already there (a second AUTH starts no new handshake).
  session.WriteReply(234, "AUTH Command OK. Initializing SSL");
  if (!session.Protected()) {
    try {
      session.StartTls();
    } catch (const TlsError& error) {
      // SECURITY: the library consumed an unknown part of what followed AUTH; the rest must not
      // be read as commands, so the connection closes after the error reply.
      command.Disconnect = true;
      throw std::runtime_error(std::string("Error accepting connection with SSL.\r\n") +
                               error.what());
    }
  }
  context.AuthMechanism = "TLS";
  context.DataProtection = protection;
}

void CmdPbsz(TCommand& command) {
  TFtpContext& context = command.Context();
  const std::string& size = command.UnparsedParams();
  if (context.AuthMechanism.empty()) {
    command.Reply.SetReply(503, "AUTH Data required.");
  } else if (context.CCCGiven) {
    command.Reply.SetReply(503, kAfterCcc);
  } else if (!AllDigits(size)) {
    command.Reply.SetReply(501, Substitute("Error in parameters to %s", command.CommandWord()));
  } else {
    // Stream mode over TLS needs no protection buffer: any size is answered with 0.
    context.PBSZGiven = true;
    context.PBSZ = 0;
    command.Reply.SetReply(
        200, size == "0" ? "PBSZ Command OK. Protection buffer size set to 0." : "PBSZ=0");
  }
}

void CmdProt(TCommand& command) {
  TFtpContext& context = command.Context();
  const std::string& level = command.UnparsedParams();
  if (context.CCCGiven) {
    command.Reply.SetReply(503, kAfterCcc);
  } else if (!context.PBSZGiven) {
    command.Reply.SetReply(503, "PBSZ Data Buffer Size required.");
  } else if (level == "C") {
    context.DataProtection = TDataProtection::Clear;
    command.Reply.SetReply(200, "PROT Command OK. Using Clear data connection");
  } else if (level == "P") {
    context.DataProtection = TDataProtection::Private;
    command.Reply.SetReply(200, "PROT Command OK. Using Private data connection");
  } else if (level == "S" || level == "E") {
    command.Reply.SetReply(536, "Requested PROT level not supported by mechanism.");
  } else {
    command.Reply.SetReply(504, kBadParameter);
  }
}

void CmdCcc(TCommand& command) {
  // SECURITY: the control connection never returns to plain text on request: commands and
  // replies after a login stay protected.
  command.Reply.SetReply(534, "Clear command channel is not permitted.");
}

void CmdSscn(TCommand& command) {
  TFtpContext& context = command.Context();
  const std::string& setting = command.UnparsedParams();
  if (::strcasecmp(setting.c_str(), "ON") == 0) {
    context.SSCNOn = true;
  } else if (::strcasecmp(setting.c_str(), "OFF") == 0) {
    context.SSCNOn = false;
  } else if (!setting.empty()) {
    command.Reply.SetReply(504, kBadParameter);
    return;
  }
  command.Reply.SetReply(200, context.SSCNOn ? "SSCN:CLIENT METHOD" : "SSCN:SERVER METHOD");
}

void CmdCpsv(TCommand& command) {
  TFtpContext& context = command.Context();
  if (context.LocalEndpoint().family != AF_INET) {
    CmdNotUnderstood(command);
    return;
  }
  CmdPasv(command);
  if (command.Reply.Code() == 227 && context.DataChannel)
    context.DataChannel->FTlsClientRole = true;
}

}  // namespace corvane
