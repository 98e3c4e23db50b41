// What a person at the bench calls a unit: the port's name from
// --port-names, else its serial number, else its USB location; the path
// only when there is nothing else (a Windows path ends in the same class
// GUID for every unit, and /dev/hidrawN changes on every replug).
#pragma once

#include <string>

#include "station/port_names.h"
#include "device/hid_platform.h"

namespace wxr::cli {

using namespace wxr::station;

struct BenchName {
    std::string label;  // "Port 3", "A0017", "usb-1.4" or the path; printable
    std::string rest;   // what else tells it apart: "at usb-1.4  serial A0017", or empty
};

// ports: nullptr for none.
BenchName bench_name(const DevicePath& path, const std::string& location, const std::string& serial,
                     const PortNames* ports);

}  // namespace wxr::cli
