// RETR, STOR, STOU, APPE and ABOR, and the ABOR and STAT that run during a transfer.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/file_stream.h"
#include "service/ftp/command_handlers.h"
#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_engine.h"
#include "service/ftp/transfer.h"
#include "service/ftp/virtual_path.h"

namespace corvane {
namespace {

constexpr const char* kAboutToOpen = "File status okay; about to open data connection.";
constexpr const char* kNoStream = "Requested action aborted: local error in processing.";
// STOU gives up after this many taken names in a row.
constexpr std::uint32_t kMaxUniqueNameTries = 100000;

void SetFileTransfer(TDataChannel& channel, TFtpOperation operation,
                     std::unique_ptr<FileStream> stream) {
  channel.FFtpOperation = operation;
  channel.FData = std::move(stream);
  channel.FOKReply.SetReply(226, "Closing data connection.");
  channel.FErrorReply.SetReply(426, "Data connection closed abnormally.");
}

// Asks the handler for a stream; a handler error or a missing stream frees the data channel.
// nullptr: the command's reply is set.
template <typename Open>
std::unique_ptr<FileStream> OpenStream(TCommand& command, Open open) {
  TFtpContext& context = command.Context();
  std::unique_ptr<FileStream> stream;
  try {
    stream = open();
  } catch (const std::exception& error) {
    // A handler's failure is answered 550 for every transfer command, whatever the entry's
    // exception code (which STOR and STOU use for a data connection that cannot be opened).
    DiscardDataChannel(context);
    command.Reply.SetReply(550, error.what());
    return nullptr;
  }
  if (!stream) {
    DiscardDataChannel(context);
    command.Reply.SetReply(550, kNoStream);
  }
  return stream;
}

// "Temp" and eight upper-case hex digits from the millisecond tick count, counting up while a
// file of that name exists in the working directory.
std::string UniqueFileName(TCommand& command) {
  TFtpEngine& engine = command.Engine();
  TFtpContext& context = command.Context();
  const auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
  auto number = static_cast<std::uint32_t>(ticks);
  for (std::uint32_t tries = 0; tries < kMaxUniqueNameTries; ++tries, ++number) {
    char name[16];
    std::snprintf(name, sizeof name, "Temp%08X", number);
    if (!engine.OnFileExists ||
        !engine.OnFileExists(context, Canonicalise(context.CurrentDir, name)))
      return name;
  }
  throw std::runtime_error("Could not find a unique file name.");
}

void Store(TCommand& command, const std::string& name, const std::string& preliminary_text,
           bool append) {
  TFtpContext& context = command.Context();
  TFtpEngine& engine = command.Engine();
  const TFtpReply preliminary(150, preliminary_text);
  const std::string path = Canonicalise(context.CurrentDir, name);
  std::unique_ptr<FileStream> stream = OpenStream(command, [&] {
    return engine.OnStoreFile ? engine.OnStoreFile(context, path, append) : nullptr;
  });
  if (!stream) return;
  try {
    if (append) {
      stream->SeekToEnd();  // RESTPos stays pending for the next command that uses it
    } else {
      stream->Seek(context.RESTPos);
      context.RESTPos = 0;
    }
  } catch (...) {
    DiscardDataChannel(context);
    throw;
  }
  // ALLO reserves room without changing the file's size, which never runs ahead of the data.
  if (context.ALLOSize > 0) stream->Reserve(context.ALLOSize);
  SetFileTransfer(*context.DataChannel, TFtpOperation::ftpStor, std::move(stream));
  context.DataChannel->FCutAtStart = !append;
  command.Session().WriteReply(preliminary);
  RunTransfer(command, context.SSCNOn);
}

}  // namespace

void CmdRetr(TCommand& command) {
  if (!CheckDataChannel(command)) return;
  TFtpContext& context = command.Context();
  TFtpEngine& engine = command.Engine();
  const std::string path = Canonicalise(context.CurrentDir, command.UnparsedParams());
  std::unique_ptr<FileStream> stream = OpenStream(command, [&] {
    return engine.OnRetrieveFile ? engine.OnRetrieveFile(context, path) : nullptr;
  });
  if (!stream) return;
  stream->Seek(context.RESTPos);
  context.RESTPos = 0;
  SetFileTransfer(*context.DataChannel, TFtpOperation::ftpRetr, std::move(stream));
  command.Session().WriteReply(150, kAboutToOpen);
  RunTransfer(command, context.SSCNOn);
}

void CmdStor(TCommand& command) {
  if (!CheckDataChannel(command)) return;
  Store(command, command.UnparsedParams(), kAboutToOpen, false);
}

void CmdStou(TCommand& command) {
  if (!CheckDataChannel(command)) return;
  const std::string name = UniqueFileName(command);
  Store(command, name, Substitute("FILE: %s", name), false);
}

void CmdAppe(TCommand& command) {
  if (!CheckDataChannel(command)) return;
  Store(command, command.UnparsedParams(), kAboutToOpen, true);
}

void CmdAbor(TCommand& command) {
  TFtpContext& context = command.Context();
  if (!context.DataChannel || context.DataChannel->FStopped) {
    command.Reply.SetReply(226, Substitute("%s Command successful.", command.CommandWord()));
    return;
  }
  DiscardDataChannel(context);
  command.Reply.SetReply(226, "Closing data connection.");
}

void CmdTransferAbor(TCommand& command) {
  TFtpContext& context = command.Context();
  if (!context.DataChannel || context.DataChannel->FStopped) {
    command.Reply.SetReply(226, Substitute("%s Command successful.", command.CommandWord()));
    return;
  }
  // The transfer notices the stop at its next check and ends with the 426 set here.
  TDataChannel& channel = *context.DataChannel;
  channel.FOKReply.SetReply(426, "Data connection closed abnormally.");
  channel.FErrorReply.SetReply(426, "Data connection closed abnormally.");
  channel.Stop();
  command.Reply.SetReply(226, "Closing data connection.");
}

void CmdTransferStat(TCommand& command) {
  command.Reply.SetCode(211);
  command.Reply.Lines() = {"System status", "End of Status"};
}

}  // namespace corvane
