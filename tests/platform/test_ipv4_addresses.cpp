#include "platform/ipv4_addresses.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace corvane {
namespace {

TEST(MachineIpv4AddressesTest, ListsDottedAddressesWithLoopback) {
  const std::vector<std::string> addresses = MachineIpv4Addresses();
  ASSERT_FALSE(addresses.empty());
  EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
  for (const std::string& address : addresses) {
    in_addr parsed{};
    EXPECT_EQ(::inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_EQ(address.find(':'), std::string::npos) << address;
  }
}

}  // namespace
}  // namespace corvane
