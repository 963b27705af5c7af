// LIST, NLST, MLSD, MLST and STAT with a path: directory listings.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/ftp/command_handlers.h"
#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftp/list_output.h"
#include "service/ftp/transfer.h"
#include "service/ftp/virtual_path.h"

namespace corvane {
namespace {

// STAT's listing goes out on the control connection in writes of about this size.
constexpr std::size_t kStatWriteSize = 32768;

struct ListRequest {
  std::string options;  // the option word, such as "-la"; empty when none was given
  std::string path;
};

// A parameter that begins with "-" has its first word (up to the first space) as the option
// word and the rest as the path; otherwise the whole parameter is the path.
ListRequest SplitOptions(const std::string& parameter) {
  if (parameter.empty() || parameter.front() != '-') return {"", parameter};
  const std::size_t space = parameter.find(' ');
  if (space == std::string::npos) return {parameter, ""};
  return {parameter.substr(0, space), parameter.substr(space + 1)};
}

// Reads the directory the path names (the working directory when empty) through the engine's
// listing handler.
TListOutput ReadListing(TCommand& command, const ListRequest& request) {
  TFtpContext& context = command.Context();
  std::string directory = Canonicalise(context.CurrentDir, request.path);
  if (directory.empty() || directory.back() != '/') directory += '/';
  TListOutput listing;
  listing.Switches = request.options;
  const TFtpEngine& engine = command.Engine();
  if (engine.OnListDirectory)
    engine.OnListDirectory(context, directory, request.options, command.CommandWord(), listing);
  return listing;
}

enum class LineKind { Long, Names, Facts };

// The listing's wire text: only the text is kept, the listing is freed before anything is sent.
TListingText WireText(TCommand& command, const ListRequest& request, LineKind kind) {
  const TListClock clock = TListClock::Now();
  TFtpContext& context = command.Context();
  TListingText text(context.NLSTUtf8);
  const TListOutput listing = ReadListing(command, request);
  switch (kind) {
    case LineKind::Long:
      listing.WriteLongLines(clock, text);
      break;
    case LineKind::Names:
      listing.WriteNameLines(clock, text);
      break;
    case LineKind::Facts:
      listing.WriteFactLines(context.MLSOpts, clock, text);
      break;
  }
  return text;
}

// The data-connection listings: the 425 check, the lines, then the transfer.
void SendListing(TCommand& command, const ListRequest& request, LineKind kind,
                 const TFtpReply& preliminary) {
  if (!CheckDataChannel(command)) return;
  std::optional<TListingText> text;
  try {
    text.emplace(WireText(command, request, kind));
  } catch (...) {
    DiscardDataChannel(command.Context());  // the command's exception reply follows
    throw;
  }
  RunListingTransfer(command, std::move(*text), preliminary);
}

const TFtpReply kListPreliminary{125, "Opening ASCII mode data connection for /bin/ls."};

}  // namespace

void CmdList(TCommand& command) {
  SendListing(command, SplitOptions(command.UnparsedParams()), LineKind::Long, kListPreliminary);
}

void CmdNlst(TCommand& command) {
  const ListRequest request = SplitOptions(command.UnparsedParams());
  const TFtpReply preliminary =
      request.options.empty() ? TFtpReply(125, "Opening ASCII mode data connection for file list.")
                              : kListPreliminary;
  SendListing(command, request, LineKind::Names, preliminary);
}

void CmdMlsd(TCommand& command) {
  SendListing(command, {"", command.UnparsedParams()}, LineKind::Facts,
              TFtpReply(125, "File status okay; about to open data connection."));
}

void CmdMlst(TCommand& command) {
  const TListClock clock = TListClock::Now();
  const TFtpContext& context = command.Context();
  std::vector<std::string> lines = {"Begin"};
  {
    const TListOutput listing = ReadListing(command, {"", command.UnparsedParams()});
    for (const TListOutputItem& item : listing.Items())
      lines.push_back(' ' + ReplySafeName(FormatFactLine(item, context.MLSOpts, clock)));
  }
  lines.push_back("End");
  command.Reply.SetCode(250);
  command.Reply.Lines() = std::move(lines);
  command.Reply.SetFormat(TReplyFormat::rfIndentMidLines);
}

void StatListing(TCommand& command) {
  const TFtpContext& context = command.Context();
  if (context.DataChannel && !context.DataChannel->FStopped) {
    command.Reply.SetCode(211);
    command.Reply.Lines() = {"System status", "End of Status"};
    return;
  }
  const TListingText text =
      WireText(command, SplitOptions(command.UnparsedParams()), LineKind::Long);
  ControlSession& session = command.Session();
  session.WriteBytes("213-File status okay; about to open data connection.\r\n");
  for (std::size_t offset = 0; offset < text.bytes.size(); offset += kStatWriteSize)
    session.WriteBytes(text.bytes.substr(offset, kStatWriteSize));
  command.Reply.SetReply(213, "End of Status");
}

}  // namespace corvane
