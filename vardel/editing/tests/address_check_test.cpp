// The typed-address syntax checks.

#include "vardel/editing/address_check.h"

#include <gtest/gtest.h>

namespace {

void expectIp(int expected, std::initializer_list<const char*> texts) {
    for (const char* text : texts)
        EXPECT_EQ(IsValidIpAddress(text), expected) << '"' << text << '"';
}

void expectIpx(int expected, std::initializer_list<const char*> texts) {
    for (const char* text : texts)
        EXPECT_EQ(IsValidIpxAddress(text), expected) << '"' << text << '"';
}

} // namespace

TEST(AddressCheck, IpAddressesReadTokenByTokenAsAtoi) {
    expectIp(0, {"10.1.2.3", "1.0.0.0", "10.0.1.1", "223.255.255.255", "1..2.3.4", "1.2.3.4.", ".1.2.3.4",
                 "1.2.3.4x", " 1.2.3.4", "+1.+2.3.4", "1.2.3.4 "});
    expectIp(-1,
             {"0.1.2.3", "224.1.1.1", "1.2.3.256", "1.2.3", "10.00.1.1", "1.-0.1.1", "1.2.3.-1", "a.1.1.1",
              "1.2.3.4.5", "", "...", "1.2.3. ", "99999999999999999999.1.1.1", "1.2.3.4294967297"});
}

TEST(AddressCheck, IpxAddressesAreEightAndTwelveHexDigits) {
    expectIpx(0, {"D5533216-000000000001", "d5533216-000000000001", "-D5533216--abcdefABCDEF-"});
    expectIpx(-1, {"D5533216-00000000001", "D553321G-000000000001", "D5533216:000000000001",
                   "000000000001-D5533216", "D5533216-000000000001-1", "D5533216 -000000000001",
                   "D5533216000000000001", "", "-"});
}

TEST(AddressCheck, Ip6AddressesInTheirTextFormsWithoutUnusableKinds) {
    for (const char* text : {"fd00::15", "FD00:0:0:0:0:0:0:15", "::1", "2001:db8::1", "fd00::192.0.2.1",
                             "2001:0db8:0000:0000:0000:ff00:0042:8329"})
        EXPECT_EQ(IsValidIp6Address(text), 0) << text;
    for (const char* text : {"", "::", "ff02::1", "fe80::1", "fe80::1%lo", "::ffff:10.1.2.3", "fd00:::15",
                             "fd00::15::1", "1:2:3:4:5:6:7:8:9", "10.1.2.3", "fd00::1g", " fd00::15",
                             "0000:0000:0000:0000:0000:0000:0000:0000:1"})
        EXPECT_EQ(IsValidIp6Address(text), -1) << text;
    // The IPv4 check knows nothing of IPv6.
    EXPECT_EQ(IsValidIpAddress("fd00::15"), -1);
}
