// Identifiers, octet strings, addresses and bindings.

#include "snmp/snmp.h"

#include <gtest/gtest.h>

TEST(Oid, ParsesDottedDecimalAndRefusesAnythingElse) {
    EXPECT_EQ(Oid("1.3.6.1.4.1.9999").get_printable(), "1.3.6.1.4.1.9999");
    EXPECT_EQ(Oid(".1.3.6").get_printable(), "1.3.6");
    EXPECT_EQ(Oid("1.3.4294967295").len(), 3u);
    for (const char* bad : {"", ".", "1..3", "1.3.", "1.3.x", "sysUpTime.0", "1.3.4294967296", " 1.3"})
        EXPECT_FALSE(Oid(bad).valid()) << bad;
}

TEST(Oid, PrefixAppendAndTrim) {
    Oid id("1.3.6.1.4.1.9999.0.7");
    EXPECT_TRUE(id.startsWith(Oid("1.3.6.1.4.1.9999")));
    EXPECT_FALSE(id.startsWith(Oid("1.3.6.1.4.1.999")));
    EXPECT_FALSE(Oid("1.3").startsWith(Oid("1.3.6")));
    Oid e("1.3.6.1.4.1.9999");
    e += "19";
    EXPECT_EQ(e.get_printable(), "1.3.6.1.4.1.9999.19");
    e.trim(2);
    EXPECT_EQ(e.get_printable(), "1.3.6.1.4.1");
    e.trim(10);
    EXPECT_EQ(e.len(), 0u);
}

TEST(OctetStr, PrintsTextOrHex) {
    EXPECT_EQ(OctetStr("disk full").get_printable(), "disk full");
    const unsigned char raw[] = {0x00, 0x1F, 0xAB};
    EXPECT_EQ(OctetStr(raw, 3).get_printable(), "00 1F AB");
    EXPECT_EQ(OctetStr("").len(), 0u);
}

TEST(Address, RecognisesIpUdpAndIpx) {
    IpAddress ip("10.1.2.3");
    EXPECT_TRUE(ip.valid());
    EXPECT_EQ(ip.get_type(), Address::type_ip);
    EXPECT_EQ(ip.get_printable(), "10.1.2.3");
    EXPECT_FALSE(IpAddress("10.1.2").valid());
    EXPECT_FALSE(IpAddress("server").valid());

    UdpAddress udp("127.0.0.1/1161");
    EXPECT_EQ(udp.get_type(), Address::type_udp);
    EXPECT_EQ(udp.port(), 1161);
    EXPECT_FALSE(UdpAddress("127.0.0.1/0").valid());
    EXPECT_FALSE(UdpAddress("127.0.0.1/70000").valid());

    IpxAddress ipx("0000abcd:00a0c9123456");
    EXPECT_EQ(ipx.get_type(), Address::type_ipx);
    EXPECT_EQ(ipx.get_printable(), "0000ABCD-00A0C9123456");
    EXPECT_TRUE(IpxAddress("0000ABCD-00A0C9123456").valid());
    EXPECT_FALSE(IpxAddress("0000ABCD-00A0C912345").valid());
    EXPECT_FALSE(IpxAddress("0000ABCG-00A0C9123456").valid());

    EXPECT_EQ(GenAddress("192.168.0.9").get_type(), Address::type_ip);
    EXPECT_EQ(GenAddress("0000ABCD-00A0C9123456").get_type(), Address::type_ipx);
    EXPECT_EQ(GenAddress("127.0.0.1/162").get_type(), Address::type_udp);
    EXPECT_FALSE(GenAddress("nonsense").valid());
    GenAddress copied(ip);
    EXPECT_EQ(copied.get_printable(), "10.1.2.3");
}

TEST(Vb, OctetValueCopiesWithinTheBuffer) {
    Vb vb(Oid("1.3.6.1.2.1.1.5.0"));
    const unsigned char bytes[] = {'a', 'b', 0, 'c'};
    vb.set_value(OctetStr(bytes, 4));
    EXPECT_EQ(vb.get_syntax(), sNMP_SYNTAX_OCTETS);
    OctetStr out;
    ASSERT_EQ(vb.get_value(out), kSnmpSuccess);
    EXPECT_EQ(out.len(), 4u);

    unsigned char buffer[3] = {9, 9, 9};
    unsigned long length = 0;
    ASSERT_EQ(vb.get_value(buffer, length, sizeof buffer, true), kSnmpSuccess);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(buffer[2], 0);

    std::int32_t i = 0;
    EXPECT_EQ(vb.get_value(i), kSnmpInvalid);
}

TEST(Vb, PrintableValues) {
    Vb vb;
    vb.set_value(std::int32_t{-42});
    EXPECT_EQ(vb.get_printable_value(), "-42");
    vb.set_unsigned(4294967295u, sNMP_SYNTAX_GAUGE32);
    EXPECT_EQ(vb.get_printable_value(), "4294967295");
    vb.set_unsigned(8640000u + 3u * 360000u + 4u * 6000u + 5u * 100u + 6u, sNMP_SYNTAX_TIMETICKS);
    EXPECT_EQ(vb.get_printable_value(), "1 days, 03:04:05.06");
    vb.set_value(Oid("1.3.6.1.4.1"));
    EXPECT_EQ(vb.get_printable_value(), "1.3.6.1.4.1");
    vb.set_value(IpAddress("10.0.0.1"));
    EXPECT_EQ(vb.get_printable_value(), "10.0.0.1");
    vb.set_null();
    EXPECT_EQ(vb.get_printable_value(), "");
}

TEST(Target, DefaultsAndResolve) {
    CTarget target(IpAddress("10.0.0.5"));
    EXPECT_EQ(target.get_version(), version1);
    target.set_retry(3);
    target.set_timeout(800);
    target.set_readcommunity("private");
    OctetStr read, write;
    GenAddress address;
    unsigned long timeout = 0;
    int retries = 0;
    snmp_version version = version3;
    EXPECT_EQ(target.resolve_to_C(read, write, address, timeout, retries, version), 1);
    EXPECT_EQ(read.get_printable(), "private");
    EXPECT_EQ(write.get_printable(), "public");
    EXPECT_EQ(address.get_printable(), "10.0.0.5");
    EXPECT_EQ(timeout, 800u);
    EXPECT_EQ(retries, 3);
    EXPECT_FALSE(CTarget(IpAddress("bad")).valid());
}
