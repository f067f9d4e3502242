#include "platform/Network.h"

#include <array>
#include <string>
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

namespace pelotest {

bool isAddressLiteral(std::string_view text, AddressFamily family) {
    std::array<unsigned char, 16> address{};
    const std::string terminated(text);
    if (terminated.find('\0') != std::string::npos)
        return false;
    return ::inet_pton(family == AddressFamily::IPv4 ? AF_INET : AF_INET6, terminated.c_str(),
                       address.data()) == 1;
}

} // namespace pelotest
