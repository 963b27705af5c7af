#pragma once

#include <string>
#include <vector>

#include "service/ftp/ftp_reply.h"
#include "service/ftp/list_output.h"

namespace corvane {

class TCommand;
class TFtpContext;

// Sizes of the data side: a stream moves in blocks, sockets see buffers of at most a piece.
inline constexpr std::size_t kTransferBlockSize = 102400;
inline constexpr std::size_t kTransferPieceSize = 32768;

// True when the connection has a data channel that a transfer may use; otherwise sets the
// command's reply to 425 "Can't open data connection." and returns false (nothing else changes).
bool CheckDataChannel(TCommand& command);

// Runs one transfer on the context's data channel, whose operation, payload and final replies
// are set and whose preliminary reply has been sent: opens the data connection, moves the
// payload while polling the control connection, writes the final reply, frees the payload and
// the channel, then runs the command lines that were queued meanwhile. The command's own reply
// is not sent afterwards. When the data connection cannot be opened, the channel's error reply
// is the command's one final reply. The channel is freed in every case.
void RunTransfer(TCommand& command, bool tls_client_role);

// The data-connection half of a listing: the 425 check, then the listing's wire text goes out
// after the preliminary reply, polling the control connection at its polling points, ending
// with 226 or 426 as for a file download.
void RunListingTransfer(TCommand& command, TListingText text, const TFtpReply& preliminary);

}  // namespace corvane
