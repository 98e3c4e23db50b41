// The order in which the station starts, shows and picks units: paths with
// their numbers compared as numbers ("sim:2" before "sim:10", "hidraw2"
// before "hidraw10"), so that it does not depend on which thread ended first.
#pragma once

#include <string_view>

#include "device/hid_platform.h"

namespace wxr::station {

bool natural_less(std::u16string_view a, std::u16string_view b);

struct NaturalLess {
    bool operator()(const DevicePath& a, const DevicePath& b) const { return natural_less(a, b); }
};

}  // namespace wxr::station
