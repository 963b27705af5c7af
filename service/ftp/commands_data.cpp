// PORT, EPRT, PASV, P@SW, SPSV and EPSV: preparing data connections.
#include "service/ftp/commands_data.h"

#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <vector>

#include "service/ftp/command_handlers.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_context.h"
#include "service/ftp/ftp_engine.h"

namespace corvane {
namespace {

constexpr const char* kReservedPort =
    "PORT/EPRT Command disabled for reserved port range (1-1024).";
constexpr const char* kForeignAddress =
    "Data port can only be used by the same IP address used by the control connection.";
constexpr const char* kPortDisabled = "PORT/EPRT Command disabled.";

// A decimal integer with optional sign and surrounding blanks (spaces, tabs); nothing else.
std::optional<long long> ParseDecimal(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::nullopt;
  const std::size_t end = text.find_last_not_of(" \t") + 1;
  const std::string digits = text.substr(begin, end - begin);
  // Checked here, as strtoll would also skip other white space (CR, LF, VT, FF) before a number.
  const std::size_t first_digit = digits[0] == '+' || digits[0] == '-' ? 1 : 0;
  if (first_digit == digits.size() ||
      digits.find_first_not_of("0123456789", first_digit) != std::string::npos)
    return std::nullopt;
  // A number past the range of long long saturates at its end (strtoll's ERANGE), so it stays
  // a number out of every range checked here instead of reading as no number at all.
  return std::strtoll(digits.c_str(), nullptr, 10);
}

std::vector<std::string> Split(const std::string& text, char delimiter) {
  std::vector<std::string> fields;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = text.find(delimiter, begin);
    fields.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) return fields;
    begin = end + 1;
  }
}

// A field of PORT: a decimal number 0..255, blanks around it allowed.
bool IsPortByte(const std::string& field) {
  const std::optional<long long> value = ParseDecimal(field);
  return value && *value >= 0 && *value <= 255 && field.find_first_of("+-") == std::string::npos;
}

const char* FamilyNumber(int family) {
  return family == AF_INET6 ? "(2)" : "(1)";
}

void Refuse(TCommand& command, int code, const std::string& text) {
  TFtpContext& context = command.Context();
  context.DataPort = 0;
  context.FDataPortDenied = true;
  command.Reply.SetReply(code, text);
}

// Replaces the data channel with an active one that connects to remote.
void PrepareActiveChannel(TCommand& command, const Endpoint& remote) {
  TFtpContext& context = command.Context();
  DiscardDataChannel(context);
  context.DataChannel = std::make_unique<TDataChannel>(context, remote);
  context.DataPort = remote.port;
  context.FDataPortDenied = false;
  command.Reply.SetReply(200, Substitute("%s Command successful.", command.CommandWord()));
}

bool RefusedAfterEpsvAll(TCommand& command) {
  if (!command.Context().FEPSVAll) return false;
  command.Reply.SetReply(501, Substitute("%s not allowed after EPSV ALL", command.CommandWord()));
  return true;
}

}  // namespace

std::optional<TPortArgument> ParsePortArgument(const std::string& text) {
  const std::vector<std::string> fields = Split(text, ',');
  // SECURITY: six numbers of one byte each, or nothing: a number is never wrapped into range.
  if (fields.size() != 6) return std::nullopt;
  for (const std::string& field : fields)
    if (!IsPortByte(field)) return std::nullopt;
  TPortArgument argument;
  argument.address = fields[0] + '.' + fields[1] + '.' + fields[2] + '.' + fields[3];
  argument.port =
      static_cast<std::uint16_t>(*ParseDecimal(fields[4]) * 256 + *ParseDecimal(fields[5]));
  return argument;
}

std::optional<TEprtArgument> ParseEprtArgument(const std::string& text) {
  if (text.empty()) return std::nullopt;
  // <d>protocol<d>address<d>port<d> and nothing after the last delimiter.
  const std::vector<std::string> fields = Split(text.substr(1), text[0]);
  if (fields.size() != 4 || !fields[3].empty()) return std::nullopt;
  TEprtArgument argument;
  const std::optional<long long> protocol = ParseDecimal(fields[0]);
  if (protocol && *protocol >= -1 && *protocol <= 0x7fffffff)
    argument.protocol = static_cast<int>(*protocol);
  argument.address = fields[1];
  if (const std::optional<long long> port = ParseDecimal(fields[2])) {
    if (*port < 0 || *port > 65535) return std::nullopt;
    argument.port = static_cast<std::uint16_t>(*port);
  }
  return argument;
}

std::optional<int> ParseEpsvProtocol(const std::string& text) {
  const std::optional<long long> value = ParseDecimal(text);
  if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
  return static_cast<int>(*value);
}

std::string PassiveModeText(const Endpoint& endpoint) {
  std::string address = endpoint.address;
  for (char& character : address)
    if (character == '.') character = ',';
  return "Entering Passive Mode (" + address + "," + std::to_string(endpoint.port >> 8) + "," +
         std::to_string(endpoint.port & 0xff) + ").";
}

Endpoint PreparePassiveChannel(TCommand& command) {
  TFtpContext& context = command.Context();
  const TFtpEngine& engine = command.Engine();
  DiscardDataChannel(context);
  // The channel is in place before its socket is bound: OnDataPortAfterBind attaches to it.
  context.DataChannel = std::make_unique<TDataChannel>(context);
  try {
    context.DataChannel->Listen(context.LocalEndpoint(), engine.PASVBoundPortMin,
                                engine.PASVBoundPortMax);
  } catch (...) {
    DiscardDataChannel(context);
    throw;
  }
  context.PASV = true;
  context.FDataPortDenied = false;
  return context.DataChannel->PassiveEndpoint();
}

void CmdPort(TCommand& command) {
  TFtpContext& context = command.Context();
  if (RefusedAfterEpsvAll(command)) return;
  if (context.Security.BlockAllPORTTransfers) {
    Refuse(command, 502, kPortDisabled);
    return;
  }
  const std::optional<TPortArgument> parsed = ParsePortArgument(command.UnparsedParams());
  if (!parsed) {
    command.Reply.SetReply(501, "Syntax: PORT <sp> h1,h2,h3,h4,p1,p2 (each a number 0 to 255)");
    return;
  }
  const TPortArgument& argument = *parsed;
  context.PASV = false;
  if (context.Security.NoReservedRangePORT && argument.port >= 1 && argument.port <= 1024) {
    Refuse(command, 504, kReservedPort);
    return;
  }
  // SECURITY: a PORT must name the client's own address (no FTP bounce).
  if (context.Security.RequirePORTFromSameIP &&
      argument.address != context.PeerEndpoint().address) {
    Refuse(command, 504, kForeignAddress);
    return;
  }
  PrepareActiveChannel(command, Endpoint{argument.address, argument.port, AF_INET});
}

void CmdEprt(TCommand& command) {
  TFtpContext& context = command.Context();
  if (command.UnparsedParams().empty()) {
    context.FDataPortDenied = true;
    command.Reply.SetReply(501,
                           Substitute("Invalid number of arguments %s", command.CommandWord()));
    return;
  }
  if (context.Security.BlockAllPORTTransfers) {
    context.FDataPortDenied = true;
    command.Reply.SetReply(502, kPortDisabled);
    return;
  }
  const std::optional<TEprtArgument> parsed = ParseEprtArgument(command.UnparsedParams());
  if (!parsed) {
    command.Reply.SetReply(501, "Syntax: EPRT <sp> |proto|addr|port| (port 0 to 65535)");
    return;
  }
  const TEprtArgument& argument = *parsed;
  context.DataPort = argument.port;
  context.PASV = false;
  const int control_family = context.LocalEndpoint().family;
  if (argument.protocol == 2 && !HostSupportsIpv6()) {
    Refuse(command, 522, Substitute("Network protocol not supported, use %s", "(1)"));
    return;
  }
  const int family = argument.protocol == 1 ? AF_INET : AF_INET6;
  if ((argument.protocol != 1 && argument.protocol != 2) || family != control_family) {
    Refuse(command, 522,
           std::string("Network protocol mismatch, use ") + FamilyNumber(control_family));
    return;
  }
  if (argument.port == 0) {
    context.FDataPortDenied = true;
    command.Reply.SetReply(500, "Invalid port number");
    return;
  }
  if (context.Security.NoReservedRangePORT && argument.port <= 1024) {
    Refuse(command, 504, kReservedPort);
    return;
  }
  if (argument.address.empty()) {
    Refuse(command, 500, "Invalid IP Address");
    return;
  }
  // SECURITY: an EPRT must name the client's own address (no FTP bounce).
  if (context.Security.RequirePORTFromSameIP &&
      argument.address != context.PeerEndpoint().address) {
    Refuse(command, 504, kForeignAddress);
    return;
  }
  PrepareActiveChannel(command, Endpoint{argument.address, argument.port, control_family});
}

void CmdPasv(TCommand& command) {
  if (RefusedAfterEpsvAll(command)) return;
  command.Reply.SetReply(227, PassiveModeText(PreparePassiveChannel(command)));
}

void CmdSpsv(TCommand& command) {
  if (RefusedAfterEpsvAll(command)) return;
  command.Reply.SetReply(227, std::to_string(PreparePassiveChannel(command).port));
}

void CmdEpsv(TCommand& command) {
  TFtpContext& context = command.Context();
  const std::string& argument = command.UnparsedParams();
  const int control_family = context.LocalEndpoint().family;
  int family = control_family;
  if (::strcasecmp(argument.c_str(), "ALL") == 0) {
    context.FEPSVAll = true;
    command.Reply.SetReply(200, " EPSV ALL sent, now only accepting EPSV connections");
    return;
  }
  if (!argument.empty()) {
    const std::optional<int> protocol = ParseEpsvProtocol(argument);
    if (!protocol) {
      command.Reply.SetReply(522, Substitute("Network protocol not supported, use %s",
                                             HostSupportsIpv6() ? "(1,2)" : "(1)"));
      return;
    }
    if (*protocol == 1) {
      family = AF_INET;
    } else if (*protocol == 2 && HostSupportsIpv6()) {
      family = AF_INET6;
    } else if (*protocol == 2) {
      command.Reply.SetReply(522, Substitute("Network protocol not supported, use %s", "(1)"));
      return;
    } else {
      command.Reply.SetReply(
          522, std::string("Protocol not supported, use ") + FamilyNumber(control_family));
      return;
    }
  }
  if (family != control_family) {
    command.Reply.SetReply(
        522, std::string("Network protocol mismatch, use ") + FamilyNumber(control_family));
    return;
  }
  const Endpoint endpoint = PreparePassiveChannel(command);
  command.Reply.SetReply(
      229, "Entering Extended Passive Mode (|||" + std::to_string(endpoint.port) + "|)");
}

}  // namespace corvane
