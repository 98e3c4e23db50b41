// A build without an MQTT client library (the Windows build): --publish is
// refused when the station starts.
#include <ostream>

#include "app/publish/publisher.h"

namespace wxr::publish {

std::unique_ptr<Publisher> start_publisher(PublishConfig, std::ostream& err) {
    err << "wxr7305: --publish: this build of wxr7305 has no MQTT client\n";
    return nullptr;
}

}  // namespace wxr::publish
