#include "app/page/bench_page.h"

#include <ostream>

#include "device/host.h"

namespace wxr::page {

std::unique_ptr<BenchPage> BenchPage::start(const std::string& where, const std::optional<std::string>& port_names,
                                            const BenchImages& images, const Clock& clock, std::ostream& err) {
    PortNames names;
    if (port_names && !read_port_names(*port_names, names, err)) return nullptr;
    const ServeAddress address = std::get<ServeAddress>(parse_serve_address(where));
    auto page = std::make_unique<BenchPage>();
    page->board_ = std::make_shared<BenchBoard>(images, names, clock);
    std::string why;
    page->server_ = PageServer::start(address, page->board_, why);
    if (!page->server_) {
        err << "wxr7305: cannot serve the page at " << where << ": " << why << "\n";
        return nullptr;
    }
    err << "wxr7305: the bench's page is at " << page_url(address, page->server_->port(), host_name()) << "\n"
        << std::flush;
    return page;
}

}  // namespace wxr::page
