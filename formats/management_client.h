#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

// The desktop's side of the management port. Connecting and each read are limited to 3 s.

// Sends "USERSSTATUS <password>", discards the greeting line and returns the next line whole,
// code included ("200 3", "201 Authorization failed"); std::nullopt on any failure.
std::optional<std::string> QueryUsersStatus(const std::string& host, std::uint16_t port,
                                            const std::string& password);

// Send "USERSRELOAD <password>" or "RULESRELOAD <password>" and close at once without reading
// anything; every failure is ignored.
void SendUsersReload(const std::string& host, std::uint16_t port, const std::string& password);
void SendRulesReload(const std::string& host, std::uint16_t port, const std::string& password);

}  // namespace corvane
