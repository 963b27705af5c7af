#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "service/net/endpoint.h"

namespace corvane {

class TCommand;

// The argument of PORT h1,h2,h3,h4,p1,p2: exactly six comma-separated fields, each a decimal
// number 0..255 (blanks around a field allowed). The address is the first four fields joined with
// dots as written (compared with the peer's address later); port = p1 * 256 + p2.
// std::nullopt when the argument has another form.
struct TPortArgument {
  std::string address;
  std::uint16_t port = 0;
};
std::optional<TPortArgument> ParsePortArgument(const std::string& text);

// The argument of EPRT <d>proto<d>address<d>port<d>, the first character being the delimiter:
// a protocol that is not a number is -1, a port that is not a number is 0. std::nullopt when the
// argument is empty, has not exactly three fields between four delimiters with nothing after the
// last, or names a port number outside 0..65535.
struct TEprtArgument {
  int protocol = -1;
  std::string address;
  std::uint16_t port = 0;
};
std::optional<TEprtArgument> ParseEprtArgument(const std::string& text);

// The protocol number of an EPSV argument (a decimal number, blanks around it allowed);
// std::nullopt when it is not a number in the range of int.
std::optional<int> ParseEpsvProtocol(const std::string& text);

// The text of the 227 reply to PASV: "Entering Passive Mode (h1,h2,h3,h4,p1,p2)."
std::string PassiveModeText(const Endpoint& endpoint);

// Replaces the connection's data channel with a passive one that listens on the control
// connection's local address (the engine's port range, or a port the system chooses) and
// returns where it listens; sets PASV and clears FDataPortDenied. Throws with the written bind
// failure texts, leaving no data channel.
Endpoint PreparePassiveChannel(TCommand& command);

}  // namespace corvane
