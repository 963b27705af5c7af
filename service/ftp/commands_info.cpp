// HELP, FEAT, STAT, SITE, OPTS, ALLO, SYST, NOOP and CLNT: commands that inform or set options.
#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "service/ftp/command_handlers.h"
#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"

namespace corvane {
namespace {

std::string PadRight(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// The help listing's rows: N entries in R = N div 6 rows, entry i, i+R, ... i+5R in row i and
// i+6R in the first N mod 6 rows.
std::vector<std::string> HelpRows(std::vector<std::string> entries) {
  std::sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    return ::strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  const std::size_t count = entries.size();
  const std::size_t rows = count / 6;
  if (rows == 0) {
    std::string row = "    ";
    for (const std::string& entry : entries) row += PadRight(entry, 10);
    return {row};
  }
  std::vector<std::string> result;
  for (std::size_t i = 0; i < rows; ++i) {
    std::string row = "    ";
    for (std::size_t column = 0; column < 6; ++column)
      row += PadRight(entries[i + column * rows], 10);
    if (i < count % 6) row += PadRight(entries[i + 6 * rows], 10);
    result.push_back(row);
  }
  return result;
}

// Runs a sub-command of SITE or OPTS from its table; false when nothing matched.
bool RunSubCommand(TCommand& command, const TCommandTable& table) {
  std::string parameters;
  const TCommandHandler* entry = table.Match(command.UnparsedParams(), &parameters);
  if (!entry) return false;
  if (entry->NeedsLogin && !command.Context().Authenticated) {
    command.Reply.SetReply(entry->NotLoggedInCode, entry->NotLoggedInText);
    return true;
  }
  TCommand sub(command.Session(), *entry, command.UnparsedParams(), parameters);
  entry->OnCommand(sub);
  command.Reply = sub.Reply;
  command.SendReply = sub.SendReply;
  return true;
}

bool IsIpv4Connection(const TFtpContext& context) {
  return context.LocalEndpoint().family == AF_INET;
}

std::string MlstFeature(unsigned selected) {
  const auto fact = [selected](const char* name, unsigned bit) {
    return std::string(name) + ((selected & bit) ? "*;" : ";");
  };
  return "MLST " + fact("size", mlsSize) + fact("Type", mlsType) + fact("Modify", mlsModify);
}

}  // namespace

void CmdHelp(TCommand& command) {
  const TCommandTable& table = command.Engine().CommandHandlers();
  const std::string& topic = command.UnparsedParams();
  if (topic.empty()) {
    std::vector<std::string> entries;
    for (const TCommandHandler& entry : table.Entries())
      if (entry.HelpVisible && entry.Enabled)
        entries.push_back(entry.Command + entry.HelpSuperScript);
    std::vector<std::string>& lines = command.Reply.Lines();
    command.Reply.SetCode(214);
    lines = {"The following commands are recognized (* => unimplemented, + => extension)."};
    for (std::string& row : HelpRows(entries)) lines.push_back(std::move(row));
    lines.push_back("");  // the rows end with CR and a CR LF follows: an empty last line
    return;
  }
  const TCommandHandler* entry = table.Find(topic);
  if (entry && entry->HelpVisible && entry->Enabled) {
    command.Reply.SetReply(214, entry->Description);
  } else {
    command.Reply.SetReply(502, Substitute("Unknown command %s.", UpperCase(topic)));
  }
}

void CmdFeat(TCommand& command) {
  const TFtpContext& context = command.Context();
  std::vector<std::string> lines = {"Extensions supported:", "AUTH TLS;AUTH TLS-C;SSL;TLS-P;",
                                    "CCC"};
  if (IsIpv4Connection(context)) lines.push_back("CPSV");
  for (const char* feature : {"EPRT", "EPSV", "LIST -laT", "MLSD"}) lines.push_back(feature);
  lines.push_back(MlstFeature(context.MLSOpts));
  for (const char* feature : {"OPTS MLST;UTF8", "PBSZ", "PROT", "REST STREAM", "SITE ZONE", "SPSV",
                              "SSCN", "STAT -laT", "TVFS", "UTF8", "RFC 959 2389 2577 3659 4217"})
    lines.push_back(feature);
  lines.push_back("End of extentions.");
  command.Reply.SetCode(211);
  command.Reply.Lines() = std::move(lines);
  command.Reply.SetFormat(TReplyFormat::rfIndentMidLines);
}

void CmdStat(TCommand& command) {
  if (command.UnparsedParams().empty()) {
    command.Reply.SetCode(211);
    command.Reply.Lines() = {"System status", "End of Status"};
    return;
  }
  StatListing(command);
}

void CmdSite(TCommand& command) {
  if (!RunSubCommand(command, command.Engine().SiteCommands()))
    command.Reply.SetReply(500,
                           ControlSession::NotUnderstoodText("SITE " + command.UnparsedParams()));
}

void CmdSiteHelp(TCommand& command) {
  command.Reply.SetCode(214);
  command.Reply.Lines() = {"The following SITE commands are supported:",
                           "    " + PadRight("ZONE", 10)};
}

void CmdSiteZone(TCommand& command) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  const long minutes = local.tm_gmtoff / 60;
  command.Reply.SetReply(210, (minutes < 0 ? "UTC" : "UTC+") + std::to_string(minutes));
}

void CmdSiteInvalid(TCommand& command) {
  command.Reply = command.Engine().ReplyUnknownSITCommand;
}

void CmdSitePermission(TCommand& command) {
  command.Reply.SetReply(553, "Permission denied.");
}

void CmdSiteUtime(TCommand& command) {
  CmdNotImplemented550(command);
}

void CmdOpts(TCommand& command) {
  if (!RunSubCommand(command, command.Engine().OptsCommands()))
    command.Reply.SetReply(501, "Option not recognized.");
}

void CmdOptsUtf8(TCommand& command) {
  TFtpContext& context = command.Context();
  const std::string argument = UpperCase(command.UnparsedParams());
  if (argument == "ON") {
    context.Encoding = TTextEncoding::Utf8;
    context.NLSTUtf8 = true;
  } else if (argument == "OFF") {
    context.Encoding = TTextEncoding::Latin1;
    context.NLSTUtf8 = false;
  } else {
    command.Reply.SetReply(501, Substitute("Invalid %s options", command.UnparsedParams()));
    return;
  }
  command.Reply.SetReply(200, "Ok");
}

void CmdOptsUtf8Dash(TCommand& command) {
  TFtpContext& context = command.Context();
  const std::string argument = UpperCase(command.UnparsedParams());
  if (argument.empty() || argument == "NLST") {
    context.Encoding = TTextEncoding::Utf8;
    context.NLSTUtf8 = !argument.empty();
    command.Reply.SetReply(200, "Ok");
    return;
  }
  command.Reply.SetReply(501, Substitute("Invalid %s options", command.UnparsedParams()));
}

void CmdOptsModeZ(TCommand& command) {
  TFtpContext& context = command.Context();
  std::istringstream words(UpperCase(command.UnparsedParams()));
  std::string word;
  while (words >> word) {
    if (word == "LEVEL") {
      std::string value;
      words >> value;
      char* end = nullptr;
      const long level = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || level < 0 || level > 7) {
        command.Reply.SetReply(501, Substitute("Invalid %s options", command.UnparsedParams()));
        return;
      }
      context.Zlib.Level = static_cast<int>(level);
    } else if (word == "ENGINE" || word == "METHOD" || word == "BLOCKSIZE" || word == "EXTRA") {
      words >> word;  // the value; stored nowhere since MODE Z is refused
    }
  }
  command.Reply.SetCode(200);
  command.Reply.Lines() = {"MODE Z ENGINE set to ZLIB.",
                           "MODE Z LEVEL set to " + std::to_string(context.Zlib.Level) + ".",
                           "MODE Z METHOD set to 8."};
}

void CmdOptsMlst(TCommand& command) {
  const std::string& facts = command.UnparsedParams();
  if (facts.find(' ') != std::string::npos) {
    command.Reply.SetReply(501, Substitute("Invalid %s options", "MLST"));
    return;
  }
  unsigned selected = 0;
  std::istringstream list(facts);
  std::string fact;
  while (std::getline(list, fact, ';')) {
    if (::strcasecmp(fact.c_str(), "type") == 0) selected |= mlsType;
    if (::strcasecmp(fact.c_str(), "size") == 0) selected |= mlsSize;
    if (::strcasecmp(fact.c_str(), "modify") == 0) selected |= mlsModify;
  }
  command.Context().MLSOpts = selected;
  std::string text = "MLST OPTS ";
  if (selected & mlsSize) text += "size;";
  if (selected & mlsType) text += "type;";
  if (selected & mlsModify) text += "modify;";
  while (!text.empty() && text.back() == ' ') text.pop_back();
  command.Reply.SetReply(200, text);
}

void CmdAllo(TCommand& command) {
  std::string text = command.UnparsedParams();
  if (text.rfind("R ", 0) == 0) text.erase(0, 2);
  text.erase(0, text.find_first_not_of(' ') == std::string::npos ? text.size()
                                                                 : text.find_first_not_of(' '));
  const std::string word = text.substr(0, text.find(' '));
  if (word.empty()) {
    command.Reply.SetReply(504, "Command not implemented for that parameter.");
    return;
  }
  char* end = nullptr;
  const long long size = std::strtoll(word.c_str(), &end, 10);
  const bool numeric = *end == '\0' && size >= INT32_MIN && size <= INT32_MAX;
  command.Context().ALLOSize = numeric ? static_cast<std::int32_t>(size) : 0;
  command.Reply.SetReply(200, Substitute("%s Command successful.", command.CommandWord()));
}

void CmdSyst(TCommand& command) {
  command.Reply.SetReply(215, "UNIX Type: L8");
}

void CmdNoop(TCommand& command) {
  command.Reply.SetReply(200, Substitute("%s Command successful.", command.CommandWord()));
}

void CmdClnt(TCommand& command) {
  command.Reply.SetReply(200, "Noted.");
}

}  // namespace corvane
