#pragma once
// Syntax checks of the addresses a user types: IP "###.###.###.###" and
// IPX "xxxxxxxx-xxxxxxxxxxxx".

#include <cstddef>
#include <string>

// The server dialogs check a typed address in a work buffer of this size: a
// text of 40 bytes or more does not fit and is refused whole, never cut to fit.
constexpr std::size_t kAddressWorkBuffer = 40;

// 0 valid, -1 invalid. Empty tokens between full stops are skipped; each of
// the four tokens is read as atoi reads it, and one reading 0 must be "0".
int IsValidIpAddress(const std::string& text);

// 0 valid, -1 invalid: an IPv6 address in any of its text forms (RFC 4291),
// without a zone, other than the unspecified address, multicast (ff00::/8),
// link-local (fe80::/10) and IPv4-mapped addresses (::ffff:0:0/96), which a
// server cannot be reached at without more than its text. At most 45
// characters (the longest form).
int IsValidIp6Address(const std::string& text);

// 0 valid, -1 invalid. Empty tokens between hyphens are skipped; two tokens of
// 8 and 12 hexadecimal digits.
int IsValidIpxAddress(const std::string& text);
