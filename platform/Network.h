#pragma once
// Names of network addresses as the system reads them.

#include <string_view>

namespace pelotest {

enum class AddressFamily { IPv4, IPv6 };

// Whether text is an address literal of this family in the system's own reading (dotted
// decimal for IPv4; the RFC 4291 forms for IPv6, without brackets or a zone).
bool isAddressLiteral(std::string_view text, AddressFamily family);

} // namespace pelotest
