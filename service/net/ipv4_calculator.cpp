#include "service/net/ipv4_calculator.h"

#include <optional>
#include <stdexcept>

namespace corvane {
namespace {

// Digits only, at least one. Large values saturate at a bound well above every meaningful
// prefix length or address part, so a long run of digits cannot overflow.
std::optional<unsigned> ParseDecimal(std::string_view text) {
  constexpr unsigned kSaturated = 1'000'000;
  if (text.empty()) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value < kSaturated) value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value < kSaturated ? value : kSaturated;
}

[[noreturn]] void ThrowInvalidAddress(std::string_view text) {
  throw std::runtime_error("Invalid IPv4 address: " + std::string(text));
}

// Splits a.b.c.d into the text before the third dot and the value of the last part.
std::pair<std::string_view, unsigned> SplitLastPart(std::string_view address) {
  ParseIpv4(address);  // validates all four parts
  const std::size_t last_dot = address.rfind('.');
  return {address.substr(0, last_dot), *ParseDecimal(address.substr(last_dot + 1))};
}

}  // namespace

std::uint32_t ParseIpv4(std::string_view text) {
  std::uint32_t value = 0;
  std::string_view rest = text;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = rest.find('.');
    if ((part < 3) != (dot != std::string_view::npos)) ThrowInvalidAddress(text);
    const std::optional<unsigned> number = ParseDecimal(rest.substr(0, dot));
    if (!number || *number > 255) ThrowInvalidAddress(text);
    value = (value << 8) | *number;
    if (dot != std::string_view::npos) rest.remove_prefix(dot + 1);
  }
  return value;
}

std::uint32_t Ipv4MaskFromPrefix(unsigned prefix_length) {
  if (prefix_length == 0) return 0;
  if (prefix_length >= 32) return 0xFFFFFFFFu;
  return ~std::uint32_t{0} << (32 - prefix_length);
}

TIpv4Network::TIpv4Network(std::string_view network, unsigned prefix_length)
    : network_(ParseIpv4(network)),
      mask_(Ipv4MaskFromPrefix(prefix_length)),
      prefix_length_(prefix_length > 32 ? 32 : prefix_length) {}

TIpv4Network TIpv4Network::FromCidr(std::string_view cidr) {
  const std::size_t slash = cidr.find('/');
  if (slash == std::string_view::npos)
    throw std::runtime_error("Invalid network: " + std::string(cidr));
  const std::optional<unsigned> prefix = ParseDecimal(cidr.substr(slash + 1));
  if (!prefix) throw std::runtime_error("Invalid prefix length: " + std::string(cidr));
  return TIpv4Network(cidr.substr(0, slash), *prefix);
}

bool TIpv4Network::Contains(std::string_view address) const {
  return (ParseIpv4(address) & mask_) == (network_ & mask_);
}

TIpv4Range TIpv4Range::Parse(std::string_view range) {
  const std::size_t dash = range.find('-');
  if (dash == std::string_view::npos)
    throw std::runtime_error("Invalid range: " + std::string(range));
  const std::optional<unsigned> upper = ParseDecimal(range.substr(dash + 1));
  if (!upper) throw std::runtime_error("Invalid range: " + std::string(range));
  const auto [prefix, lower] = SplitLastPart(range.substr(0, dash));
  return TIpv4Range(std::string(prefix), lower, *upper);
}

bool TIpv4Range::Contains(std::string_view address) const {
  const auto [prefix, last] = SplitLastPart(address);
  return prefix == prefix_ && lower_ <= last && last <= upper_;
}

}  // namespace corvane
