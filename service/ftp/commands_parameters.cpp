// TYPE, STRU, MODE and REST: transfer parameters.
#include <cerrno>
#include <cstdlib>

#include "service/ftp/command_handlers.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_context.h"

namespace corvane {
namespace {

std::string FirstWordUpper(const TCommand& command) {
  const std::string& text = command.UnparsedParams();
  return UpperCase(text.substr(0, text.find(' ')));
}

}  // namespace

void CmdType(TCommand& command) {
  const std::string word = FirstWordUpper(command);
  if (word == "A") {
    command.Context().DataType = TDataType::ftASCII;
  } else if (word == "I") {
    command.Context().DataType = TDataType::ftBinary;
  } else {
    return;  // unchanged; the default reply
  }
  command.Reply.SetReply(200, Substitute("Type set to %s.", word));
}

void CmdStru(TCommand& command) {
  const std::string word = FirstWordUpper(command);
  TFtpContext& context = command.Context();
  if (word == "F") {
    context.DataStruct = TDataStruct::dsFile;
  } else if (word == "R") {
    context.DataStruct = TDataStruct::dsRecord;
  } else if (word == "P") {
    context.DataStruct = TDataStruct::dsPage;
  } else {
    return;
  }
  command.Reply.SetReply(200, Substitute("Structure set to %s.", word));
}

void CmdMode(TCommand& command) {
  const std::string word = FirstWordUpper(command);
  if (word.size() != 1) return;
  if (word == "S") {
    command.Context().DataMode = TDataMode::dmStream;
    command.Reply.SetReply(200, Substitute("Mode set to %s.", word));
    return;
  }
  command.Reply.SetReply(504, "Unimplemented mode.");  // MODE Z too: there is no compressor
}

void CmdRest(TCommand& command) {
  // Offsets are 64-bit and never negative; anything else changes nothing, so a bad REST cannot
  // make a later store start over or cut a file.
  const std::string& text = command.UnparsedParams();
  const bool digits = !text.empty() && text.size() <= 19 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  errno = 0;
  const long long value = digits ? std::strtoll(text.c_str(), nullptr, 10) : -1;
  if (!digits || errno != 0) {
    command.Reply.SetReply(501, "Syntax: REST <sp> position (a non-negative decimal number)");
    return;
  }
  command.Context().RESTPos = value;
  command.Reply.SetReply(350, "Requested file action pending further information.");
}

}  // namespace corvane
