#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// Dotted-decimal IPv4 text to a 32-bit value, first part in the highest byte. The text must have
// exactly four parts, each made of decimal digits only with a value from 0 to 255; anything
// else throws std::runtime_error.
std::uint32_t ParseIpv4(std::string_view text);

// The top prefix_length bits set: 0 gives 0, values above 32 count as 32.
std::uint32_t Ipv4MaskFromPrefix(unsigned prefix_length);

// A network address with its mask, as written "a.b.c.d/n".
class TIpv4Network {
 public:
  // Throws std::runtime_error when the network text is not an IPv4 address.
  TIpv4Network(std::string_view network, unsigned prefix_length);
  // "a.b.c.d/n": the network before the first "/", the decimal prefix length after it.
  // Throws std::runtime_error when either part cannot be read.
  static TIpv4Network FromCidr(std::string_view cidr);

  std::uint32_t Network() const { return network_; }
  std::uint32_t Mask() const { return mask_; }
  unsigned PrefixLength() const { return prefix_length_; }

  // Whether the address shares the network's masked bits; throws when the address is not IPv4.
  bool Contains(std::string_view address) const;

 private:
  std::uint32_t network_;
  std::uint32_t mask_;
  unsigned prefix_length_;
};

// The addresses a.b.c.d through a.b.c.e, as written "a.b.c.d-e". The first three parts are
// compared as text, exactly as written; the last part is compared by value. A range whose lower
// bound lies above its upper bound contains nothing.
class TIpv4Range {
 public:
  // Throws std::runtime_error when the start is not an IPv4 address or the upper bound is not a
  // decimal number.
  static TIpv4Range Parse(std::string_view range);

  // Throws std::runtime_error when the address is not IPv4.
  bool Contains(std::string_view address) const;

 private:
  TIpv4Range(std::string prefix, unsigned lower, unsigned upper)
      : prefix_(std::move(prefix)), lower_(lower), upper_(upper) {}

  std::string prefix_;  // "a.b.c"
  unsigned lower_;
  unsigned upper_;
};

}  // namespace corvane
