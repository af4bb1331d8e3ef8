#pragma once

#include <cstdint>
#include <string>

namespace support {

// The address this computer uses to reach host ("192.168.1.5"), as host sees it, for telling an operator
// what to enter in the other side's configuration; empty when it cannot be had. Nothing is sent.
std::string LocalAddressTowards(const std::string& host, std::uint16_t port);

} // namespace support
