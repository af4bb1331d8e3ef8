#include "support/Network.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace support {

std::string LocalAddressTowards(const std::string& host, std::uint16_t port)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || found == nullptr) {
        return {};
    }
    std::string address;
    // A datagram socket's connect only chooses the route: the system then names the address it would use.
    const int probe = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (probe >= 0) {
        sockaddr_in local {};
        socklen_t length = sizeof local;
        char text[INET_ADDRSTRLEN] = {};
        if (::connect(probe, found->ai_addr, found->ai_addrlen) == 0
            && ::getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length) == 0
            && ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) != nullptr) {
            address = text;
        }
        ::close(probe);
    }
    ::freeaddrinfo(found);
    return address;
}

} // namespace support
