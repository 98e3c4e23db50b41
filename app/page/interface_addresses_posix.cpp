#include "app/page/interface_addresses.h"

#include <cstring>

#include <ifaddrs.h>
#include <netinet/in.h>

#include <boost/asio/ip/address.hpp>

namespace wxr::page {

std::vector<std::string> interface_addresses() {
    namespace ip = boost::asio::ip;
    std::vector<std::string> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (const ifaddrs* it = list; it; it = it->ifa_next) {
        if (!it->ifa_addr) continue;
        if (it->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
            ip::address_v4::bytes_type bytes;
            std::memcpy(bytes.data(), &in->sin_addr, bytes.size());
            found.push_back(ip::address_v4(bytes).to_string());
        } else if (it->ifa_addr->sa_family == AF_INET6) {
            const auto* in = reinterpret_cast<const sockaddr_in6*>(it->ifa_addr);
            ip::address_v6::bytes_type bytes;
            std::memcpy(bytes.data(), &in->sin6_addr, bytes.size());
            found.push_back(ip::address_v6(bytes).to_string());
        }
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace wxr::page
