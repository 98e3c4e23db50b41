#include "app/cli/json_output.h"

#include <nlohmann/json.hpp>

namespace wxr::cli {

namespace {

using nlohmann::json;

std::string line(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

json device_fields(const DevicePath& path, const ImageInfo& device) {
    return {
        {"path", to_utf8(path)},
        {"model", device.model},
        {"model_name", to_utf8(device.model_name)},
        {"sensor", device.sensor},
        {"sensor_name", to_utf8(device.sensor_name)},
        {"version", device.version},
    };
}

}  // namespace

std::string image_json(const ImageInfo& image) {
    return line({
        {"customer", to_utf8(image.customer)},
        {"size", image.size},
        {"checksum", image.checksum},
        {"model", image.model},
        {"model_name", to_utf8(image.model_name)},
        {"version", image.version},
        {"sensor", image.sensor},
        {"sensor_name", to_utf8(image.sensor_name)},
    });
}

std::string device_json(const DevicePath& path, const ImageInfo& device) { return line(device_fields(path, device)); }

std::string device_json(const DevicePath& path, const ImageInfo& device, const BenchImage* image) {
    json object = device_fields(path, device);
    object["image"] = image ? json(image->name) : json(nullptr);
    return line(object);
}

std::string report_json(const RunReport& report, const std::optional<SimulationCheck>& check) {
    json object = device_fields(report.path, report.device);
    object["result"] = result_name(report.result);
    object["seconds"] = static_cast<double>(report.ms) / 1000.0;
    if (!report.detail.empty()) object["detail"] = report.detail;
    if (check) {
        object["simulated_flash_equals_image"] = check->flash_equals_image;
        object["simulated_end_report_matches"] = check->end_report_matches;
    }
    return line(object);
}

}  // namespace wxr::cli
