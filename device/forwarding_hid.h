// A HID platform that passes every call to another, for decorators that
// change one call: the dialog's gate, and the tests' injected faults.
#pragma once

#include "device/hid_platform.h"

namespace wxr {

class ForwardingHid : public HidPlatform {
public:
    explicit ForwardingHid(HidPlatform& inner) : inner_(inner) {}
    std::optional<std::vector<DevicePath>> enumerate() override { return inner_.enumerate(); }
    HidHandle open(const DevicePath& p) override { return inner_.open(p); }
    bool capabilities(HidHandle h, HidCapabilities& c) override { return inner_.capabilities(h, c); }
    bool attributes(HidHandle h, HidAttributes& a) override { return inner_.attributes(h, a); }
    bool get_feature(HidHandle h, std::span<std::uint8_t> r) override { return inner_.get_feature(h, r); }
    bool set_feature(HidHandle h, std::span<const std::uint8_t> r) override { return inner_.set_feature(h, r); }
    void close(HidHandle h) override { inner_.close(h); }
    bool feature_report_length(HidHandle h, std::uint16_t& n) override { return inner_.feature_report_length(h, n); }
    void hold(const DevicePath& p) override { inner_.hold(p); }
    void release(const DevicePath& p) override { inner_.release(p); }
    std::string location(const DevicePath& p) override { return inner_.location(p); }
    std::string serial_number(const DevicePath& p) override { return inner_.serial_number(p); }
    std::size_t inaccessible_interfaces() const override { return inner_.inaccessible_interfaces(); }
    bool claim(const DevicePath& p) override { return inner_.claim(p); }
    void unclaim(const DevicePath& p) override { inner_.unclaim(p); }
    std::size_t interfaces_in_use() const override { return inner_.interfaces_in_use(); }

protected:
    HidPlatform& inner_;
};

}  // namespace wxr
