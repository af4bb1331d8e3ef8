#include "support/Network.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace support {

std::string LocalAddressTowards(const std::string& host, std::uint16_t port)
{
    WSADATA data {};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return {};
    }
    std::string address;
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) == 0 && found != nullptr) {
        // A datagram socket's connect only chooses the route: the system then names the address it would use.
        const SOCKET probe = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
        if (probe != INVALID_SOCKET) {
            sockaddr_in local {};
            int length = sizeof local;
            char text[INET_ADDRSTRLEN] = {};
            if (::connect(probe, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0
                && ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0
                && ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) != nullptr) {
                address = text;
            }
            ::closesocket(probe);
        }
        ::freeaddrinfo(found);
    }
    ::WSACleanup();
    return address;
}

} // namespace support
