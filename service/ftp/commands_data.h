#pragma once

#include <cstdint>
#include <string>

#include "service/net/endpoint.h"

namespace corvane {

class TCommand;

// The argument of PORT h1,h2,h3,h4,p1,p2: the first four fields joined with dots (not checked
// here) and p1 * 256 + p2 kept to 16 bits. Throws std::runtime_error when p1 or p2 is not a
// decimal number.
struct TPortArgument {
  std::string address;
  std::uint16_t port = 0;
};
TPortArgument ParsePortArgument(const std::string& text);

// The argument of EPRT <d>proto<d>address<d>port<d>, the first character being the delimiter:
// a protocol that is not a number is -1, a port that is not a number is 0; the port is kept
// to 16 bits.
struct TEprtArgument {
  int protocol = -1;
  std::string address;
  std::uint16_t port = 0;
};
TEprtArgument ParseEprtArgument(const std::string& text);

// The text of the 227 reply to PASV: "Entering Passive Mode (h1,h2,h3,h4,p1,p2)."
std::string PassiveModeText(const Endpoint& endpoint);

// Replaces the connection's data channel with a passive one that listens on the control
// connection's local address (the engine's port range, or a port the system chooses) and
// returns where it listens; sets PASV and clears FDataPortDenied. Throws with the written bind
// failure texts, leaving no data channel.
Endpoint PreparePassiveChannel(TCommand& command);

}  // namespace corvane
