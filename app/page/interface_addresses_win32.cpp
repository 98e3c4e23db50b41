#include "app/page/interface_addresses.h"

#include <cstring>

#include <boost/asio/ip/address.hpp>
#include <iphlpapi.h>

namespace wxr::page {

namespace {

// The table's size can grow between asking for it and reading it (an adapter coming up).
constexpr int kTries = 3;
// Enough for a few adapters at the first try, as the system's documentation advises.
constexpr ULONG kFirstSize = 16 * 1024;

std::string text_of(const SOCKET_ADDRESS& where) {
    namespace ip = boost::asio::ip;
    const sockaddr* address = where.lpSockaddr;
    if (address->sa_family == AF_INET) {
        ip::address_v4::bytes_type bytes;
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, bytes.size());
        return ip::address_v4(bytes).to_string();
    }
    if (address->sa_family == AF_INET6) {
        ip::address_v6::bytes_type bytes;
        std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, bytes.size());
        return ip::address_v6(bytes).to_string();
    }
    return {};
}

}  // namespace

std::vector<std::string> interface_addresses() {
    std::vector<std::string> found;
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<unsigned char> table(kFirstSize);
    ULONG size = kFirstSize;
    ULONG status = ERROR_BUFFER_OVERFLOW;
    for (int i = 0; i < kTries && status == ERROR_BUFFER_OVERFLOW; ++i) {
        table.resize(size);
        status = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(table.data()), &size);
    }
    if (status != NO_ERROR) return found;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(table.data()); adapter; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            if (std::string text = text_of(unicast->Address); !text.empty()) found.push_back(std::move(text));
        }
    }
    return found;
}

}  // namespace wxr::page
