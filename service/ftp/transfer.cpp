#include "service/ftp/transfer.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "platform/file_stream.h"
#include "service/ftp/control_session.h"
#include "service/ftp/data_channel.h"
#include "service/ftp/ftp_command.h"
#include "service/ftp/ftp_context.h"
#include "service/net/throttler.h"

namespace corvane {
namespace {

// Protected downloads read blocks of whole 16 KiB records, so every record goes out full.
constexpr std::size_t kProtectedBlockSize = 16 * 16384;
// Plain downloads go out ten blocks per round: the control connection is polled once for the
// ten, which spares two system calls per block and leaves an ABOR waiting at most 1 MB longer.
constexpr std::size_t kSendFileBlockSize = 10 * kTransferBlockSize;
// Uploads are read in large buffers and written straight to the file.
constexpr std::size_t kReceiveBufferSize = 256 * 1024;
// A listing goes out in pieces of this size when it is not throttled.
constexpr std::size_t kListingPieceSize = 256 * 1024;

// Frees the context's data channel (and with it the payload) when the transfer step ends.
class ChannelRelease {
 public:
  explicit ChannelRelease(TFtpContext& context) : context_(context) {}
  ~ChannelRelease() { DiscardDataChannel(context_); }
  ChannelRelease(const ChannelRelease&) = delete;
  ChannelRelease& operator=(const ChannelRelease&) = delete;

 private:
  TFtpContext& context_;
};

// Sends a buffer in pieces, pausing after each when the connection is throttled.
void SendThrottled(ByteStream& io, TThrottler* throttle, const char* data, std::size_t size) {
  while (size > 0) {
    const std::size_t piece = throttle ? std::min(size, kTransferPieceSize) : size;
    io.SendAll(data, piece);
    if (throttle) throttle->AfterSend(piece);
    data += piece;
    size -= piece;
  }
}

// Fills buffer from the stream as far as it goes; fewer bytes only at the end of the file.
std::size_t ReadBlock(FileStream& stream, char* buffer, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const std::size_t got = stream.Read(buffer + filled, size - filled);
    if (got == 0) break;
    filled += got;
  }
  return filled;
}

void SendStream(TDataChannel& channel, FileStream& stream, ControlSession& session) {
  long long position = stream.Position();
  if (position < 0) throw std::runtime_error("Invalid restart position.");
  const long long size = stream.Size();
  ByteStream& io = channel.Io();
  TThrottler* throttle = channel.Intercept();
  // Plain, unthrottled downloads go from the file to the socket inside the kernel.
  TcpSocket* plain = throttle ? nullptr : io.PlainSocket();
  const std::size_t block_size = plain      ? kSendFileBlockSize
                                 : throttle ? kTransferBlockSize
                                            : kProtectedBlockSize;
  std::vector<char> buffer(plain ? 0 : block_size);
  while (position < size && !channel.FStopped) {
    const auto block = static_cast<std::size_t>(std::min<long long>(size - position, block_size));
    std::size_t sent = 0;
    if (plain) {
      while (sent < block) {
        const std::size_t count = plain->SendFile(stream.Fd(), &position, block - sent);
        if (count == 0) break;  // the file became shorter
        sent += count;
      }
    } else {
      stream.Seek(position);
      sent = ReadBlock(stream, buffer.data(), block);
      SendThrottled(io, throttle, buffer.data(), sent);
      position += static_cast<long long>(sent);
    }
    if (sent < block) break;
    if (position < size) session.PollDuringTransfer();
  }
  stream.Seek(position);
}

// Sends a listing's text in large pieces; after each piece that passed a polling point (other
// than the very end), polls the control connection once for all the points it passed.
void SendListing(TDataChannel& channel, const TListingText& text, ControlSession& session) {
  ByteStream& io = channel.Io();
  TThrottler* throttle = channel.Intercept();
  const std::size_t piece = throttle ? kTransferPieceSize : kListingPieceSize;
  const std::size_t size = text.bytes.size();
  std::size_t sent = 0;
  std::size_t next_poll = 0;
  while (sent < size && !channel.FStopped) {
    const std::size_t count = std::min(piece, size - sent);
    SendThrottled(io, throttle, text.bytes.data() + sent, count);
    sent += count;
    bool passed = false;
    while (next_poll < text.poll_offsets.size() && text.poll_offsets[next_poll] <= sent) {
      passed = passed || text.poll_offsets[next_poll] < size;
      ++next_poll;
    }
    if (passed) session.PollDuringTransfer();
  }
}

// Plain, unthrottled uploads go from the socket into the file inside the kernel. Returns false
// when the file could not take the bytes, std::nullopt when its file system refuses splice
// (the stream is then positioned after what was written and the upload goes on another way).
std::optional<bool> SpliceStream(TDataChannel& channel, TcpSocket& socket, const SplicePipe& pipe,
                                 FileStream& stream) {
  long long position = stream.Position();
  try {
    while (!channel.FStopped) {
      if (socket.SpliceToFile(stream.Fd(), &position, pipe, pipe.Capacity()) == 0) break;
    }
  } catch (const SocketError&) {
    stream.Seek(position);
    throw;
  } catch (const SpliceUnsupported&) {
    stream.Seek(position);
    return std::nullopt;
  } catch (const std::runtime_error&) {
    stream.Seek(position);
    return false;  // a full disk, for one: the transfer ends here
  }
  stream.Seek(position);
  return true;
}

// Receives until the client closes the data connection in order, writing each piece as it
// arrives, so the file is always a prefix of what the client sent and its size never runs
// ahead of the data. Returns false when the file could not be written; throws when the
// connection failed (a reset included). What was received stays in the file either way.
bool ReceiveStream(TDataChannel& channel, FileStream& stream) {
  const long long start = stream.Position();
  if (start < 0) throw std::runtime_error("Invalid restart position.");
  if (channel.FCutAtStart && stream.Size() > start) stream.SetSize(start);
  ByteStream& io = channel.Io();
  TThrottler* throttle = channel.Intercept();
  if (TcpSocket* plain = throttle ? nullptr : io.PlainSocket()) {
    std::optional<SplicePipe> pipe;
    try {
      pipe.emplace();
    } catch (const std::runtime_error&) {
      // no pipe to be had: the bytes go through this process instead
    }
    if (pipe) {
      if (const std::optional<bool> written = SpliceStream(channel, *plain, *pipe, stream))
        return *written;
    }
  }
  std::vector<char> buffer(throttle ? kTransferPieceSize : kReceiveBufferSize);
  while (!channel.FStopped) {
    const std::size_t got = io.Receive(buffer.data(), buffer.size());
    if (got == 0) return true;
    if (throttle) throttle->AfterReceive(got);
    try {
      stream.Write(buffer.data(), got);
    } catch (const std::exception&) {
      return false;  // a full disk, for one: the transfer ends here
    }
  }
  return true;
}

// Moves the payload; false (or an exception) when the transfer failed.
bool MovePayload(TDataChannel& channel, ControlSession& session) {
  if (auto* stream = std::get_if<std::unique_ptr<FileStream>>(&channel.FData)) {
    if (channel.FFtpOperation == TFtpOperation::ftpRetr) {
      SendStream(channel, **stream, session);
      return true;
    }
    const bool written = ReceiveStream(channel, **stream);
    session.PollDuringTransfer();
    return written;
  }
  if (auto* text = std::get_if<TListingText>(&channel.FData)) {
    SendListing(channel, *text, session);
    return true;
  }
  return true;
}

}  // namespace

bool CheckDataChannel(TCommand& command) {
  const TFtpContext& context = command.Context();
  if (context.DataChannel && !context.FDataPortDenied) return true;
  command.Reply.SetReply(425, "Can't open data connection.");
  return false;
}

void RunTransfer(TCommand& command, bool tls_client_role) {
  TFtpContext& context = command.Context();
  ControlSession& session = command.Session();
  command.SendReply = false;
  TFtpReply final_reply;
  {
    ChannelRelease release(context);
    TDataChannel& channel = *context.DataChannel;
    channel.FNegotiateTLS = context.DataProtection == TDataProtection::Private;
    // A connection that cannot be used has been answered with the one final reply.
    if (!channel.Open(tls_client_role)) return;
    bool moved = false;
    try {
      moved = MovePayload(channel, session);
    } catch (const std::exception&) {
      moved = false;
    }
    channel.CloseConnection(moved);
    channel.FReply = moved ? channel.FOKReply : channel.FErrorReply;
    final_reply = channel.FReply;
    // The channel and the payload go before the final reply, so that the file is closed when
    // the client hears that the transfer ended and the queued commands find no used channel.
  }
  session.WriteReply(final_reply);
  session.RunQueuedCommands();
}

void RunListingTransfer(TCommand& command, TListingText text, const TFtpReply& preliminary) {
  if (!CheckDataChannel(command)) return;
  TDataChannel& channel = *command.Context().DataChannel;
  channel.FFtpOperation = TFtpOperation::ftpRetr;
  channel.FData = std::move(text);
  channel.FOKReply.SetReply(226, "Closing data connection.");
  channel.FErrorReply.SetReply(426, "Data connection closed abnormally.");
  command.Session().WriteReply(preliminary);
  RunTransfer(command, false);
}

}  // namespace corvane
