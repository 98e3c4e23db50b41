#include "device/hid_descriptor.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/vm/uhid_descriptors.h"

namespace wxr::hid {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<TopLevelCollection> parse(const Bytes& d) {
    auto parsed = parse_report_descriptor(d);
    EXPECT_TRUE(parsed.has_value());
    return parsed.value_or(std::vector<TopLevelCollection>{});
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A three-button boot mouse as most mice declare it: buttons, five bits of
// padding, relative X and Y.
const Bytes kBootMouse = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x02,  // Usage (Mouse)
    0xA1, 0x01,  // Collection (Application)
    0x09, 0x01,  //   Usage (Pointer)
    0xA1, 0x00,  //   Collection (Physical)
    0x05, 0x09,  //     Usage Page (Button)
    0x19, 0x01, 0x29, 0x03,
    0x15, 0x00, 0x25, 0x01,
    0x95, 0x03, 0x75, 0x01,  // Report Count 3, Report Size 1
    0x81, 0x02,              //     Input (Data, Var, Abs)
    0x95, 0x01, 0x75, 0x05,  // Report Count 1, Report Size 5
    0x81, 0x03,              //     Input (Const): padding
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31,
    0x15, 0x81, 0x25, 0x7F,
    0x75, 0x08, 0x95, 0x02,
    0x81, 0x06,  //     Input (Data, Var, Rel)
    0xC0,        //   End Collection
    0xC0,        // End Collection
};

// A boot keyboard: modifiers, a reserved byte, six key codes in; five LEDs
// and three bits of padding out.
const Bytes kKeyboardWithLeds = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // modifiers
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,  // reserved byte
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05,
    0x91, 0x02,                          // Output: LEDs
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,  // Output: padding
    0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65,
    0x81, 0x00,  // key codes
    0xC0,
};

// A vendor-defined collection with feature report `id` of `bytes` data bytes.
Bytes vendor_feature(std::uint8_t id, std::uint8_t bytes) {
    return {
        0x06, 0x00, 0xFF,  // Usage Page (Vendor 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x85, id,          //   Report ID
        0x15, 0x00, 0x26, 0xFF, 0x00,
        0x75, 0x08, 0x95, bytes,
        0x09, 0x01, 0xB1, 0x02,  //   Feature (Data, Var, Abs)
        0xC0,
    };
}

TEST(HidDescriptor, MouseHasInputOnly) {
    auto c = parse(kBootMouse);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].usage_page, 0x01);
    EXPECT_EQ(c[0].usage, 0x02);
    EXPECT_EQ(c[0].input_report_length(), 4);  // 3 bytes, padding included, + report ID byte
    EXPECT_EQ(c[0].output_report_length(), 0);
    EXPECT_EQ(c[0].feature_report_length(), 0);
    EXPECT_EQ(feature_report_length_of(c, 5), 0);
}

TEST(HidDescriptor, KeyboardLedsAndPaddingMakeOneOutputByte) {
    auto c = parse(kKeyboardWithLeds);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].input_report_length(), 9);
    EXPECT_EQ(c[0].output_report_length(), 2);
    EXPECT_EQ(c[0].feature_report_length(), 0);
}

TEST(HidDescriptor, VendorFeatureReportOfTwentyBytesIsTwentyOne) {
    auto c = parse(vendor_feature(5, 20));
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].usage_page, 0xFF00);
    EXPECT_EQ(c[0].feature_report_length(), 21);
    EXPECT_EQ(feature_report_length_of(c, 5), 21);
    EXPECT_EQ(feature_report_length_of(c, 6), 0);
}

TEST(HidDescriptor, NeighbouringLengthsStayApart) {
    EXPECT_EQ(feature_report_length_of(parse(vendor_feature(5, 19)), 5), 20);
    EXPECT_EQ(feature_report_length_of(parse(vendor_feature(5, 21)), 5), 22);
}

TEST(HidDescriptor, EachTopLevelCollectionHasItsOwnLengths) {
    // Keyboard, mouse with report ID 2, and the vendor collection: the
    // report-5 collection is measured alone, as Windows measures it.
    Bytes mouse_with_id = kBootMouse;
    mouse_with_id.insert(mouse_with_id.begin() + 6, {0x85, 0x02});
    auto c = parse(concat({kKeyboardWithLeds, mouse_with_id, vendor_feature(5, 20)}));
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].usage, 0x06);
    EXPECT_EQ(c[1].input_report_length(), 4);
    EXPECT_TRUE(c[1].input.contains(2));
    EXPECT_EQ(c[2].feature_report_length(), 21);
    EXPECT_EQ(feature_report_length_of(c, 5), 21);
}

TEST(HidDescriptor, LongestFeatureReportOfTheCollectionCounts) {
    // Reports 5 (20 bytes) and 6 (30 bytes) in one collection: its length is
    // 31, so the report-5 interface is not a 21-byte one.
    Bytes d = vendor_feature(5, 20);
    d.insert(d.end() - 1, {0x85, 0x06, 0x95, 0x1E, 0x09, 0x02, 0xB1, 0x02});
    auto c = parse(d);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].feature.at(5), 160u);
    EXPECT_EQ(c[0].feature.at(6), 240u);
    EXPECT_EQ(feature_report_length_of(c, 5), 31);
}

TEST(HidDescriptor, SeveralMainItemsOfOneReportAddUp) {
    // One state byte, 19 reply bytes, then a constant padding byte.
    Bytes d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x05,
               0x75, 0x08, 0x95, 0x01, 0xB1, 0x02,
               0x95, 0x13, 0xB1, 0x02,
               0x95, 0x01, 0xB1, 0x03,  // Feature (Const)
               0xC0};
    EXPECT_EQ(feature_report_length_of(parse(d), 5), 22);
}

TEST(HidDescriptor, PartialBytesRoundUpPerReport) {
    // 20 bytes and one bit: the report takes 21 bytes, 22 with its ID.
    Bytes d = vendor_feature(5, 20);
    d.insert(d.end() - 1, {0x75, 0x01, 0x95, 0x01, 0xB1, 0x02});
    EXPECT_EQ(feature_report_length_of(parse(d), 5), 22);
}

TEST(HidDescriptor, PushAndPopRestoreSizeCountAndId) {
    Bytes d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
               0x85, 0x05, 0x75, 0x08, 0x95, 0x0A,
               0xA4,                                // Push
               0x85, 0x07, 0x75, 0x10, 0x95, 0x03,  // report 7: 3 x 16 bits
               0xB1, 0x02,
               0xB4,        // Pop: back to report 5, 10 x 8 bits
               0xB1, 0x02,  // 10 bytes
               0xB1, 0x02,  // 10 more
               0xC0};
    auto c = parse(d);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].feature.at(5), 160u);
    EXPECT_EQ(c[0].feature.at(7), 48u);
    EXPECT_EQ(feature_report_length_of(c, 5), 21);
}

TEST(HidDescriptor, LongItemsAreSkipped) {
    Bytes d = vendor_feature(5, 20);
    // A long item with three data bytes that would read as a Report Count if parsed short.
    d.insert(d.begin() + 9, {0xFE, 0x03, 0xF0, 0x95, 0x40, 0xB1});
    EXPECT_EQ(feature_report_length_of(parse(d), 5), 21);
}

TEST(HidDescriptor, FourByteUsageCarriesItsPage) {
    Bytes d = {0x05, 0x01, 0x0B, 0x01, 0x00, 0x00, 0xFF, 0xA1, 0x01, 0xC0};
    auto c = parse(d);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].usage_page, 0xFF00);
    EXPECT_EQ(c[0].usage, 0x0001);
}

TEST(HidDescriptor, WithoutReportIdsNoNumberedReportIsDeclared) {
    Bytes d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
               0x75, 0x08, 0x95, 0x14, 0xB1, 0x02, 0xC0};
    auto c = parse(d);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].feature_report_length(), 21);  // what Windows reports for the collection
    EXPECT_EQ(feature_report_length_of(c, 5), 0);
    EXPECT_EQ(feature_report_length_of(c, 0), 0);
}

TEST(HidDescriptor, ReportFiveAsInputIsNoFeatureReport) {
    Bytes d = vendor_feature(5, 20);
    d[d.size() - 3] = 0x81;  // Feature -> Input
    auto c = parse(d);
    EXPECT_EQ(c[0].input_report_length(), 21);
    EXPECT_EQ(feature_report_length_of(c, 5), 0);
}

TEST(HidDescriptor, MalformedDescriptorsAreRefused) {
    Bytes good = vendor_feature(5, 20);
    const std::vector<Bytes> bad = {
        Bytes(good.begin(), good.end() - 1),   // collection never closed
        concat({good, {0xC0}}),                // End Collection with none open
        Bytes(good.begin(), good.begin() + 4), // item cut short
        {0xB4},                                // Pop with nothing pushed
        {0x85, 0x00},                          // report ID 0
        {0xFE, 0x05, 0x00, 0x01},              // long item cut short
        {0xA4, 0xA4, 0xA4, 0xA4, 0xA4},        // pushed deeper than Linux allows
        {0xA1, 0x01, 0x75, 0xFF, 0x97, 0xFF, 0xFF, 0x00, 0x00, 0xB1, 0x02, 0xC0},  // huge report
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(parse_report_descriptor(bad[i]).has_value()) << "case " << i;
    }
    EXPECT_TRUE(parse_report_descriptor({}).has_value());
}

TEST(HidDescriptor, FieldsOutsideCollectionsBelongToNone) {
    Bytes d = concat({{0x85, 0x05, 0x75, 0x08, 0x95, 0x05, 0xB1, 0x02}, vendor_feature(5, 20)});
    EXPECT_EQ(feature_report_length_of(parse(d), 5), 21);
}

TEST(HidDescriptor, TheVirtualMachineDevicesMeasureAsIntended) {
    // The kernel-level test devices: the upgradable one and its 22-byte twin.
    auto device = parse(Bytes(vm::kUpgradableDescriptor.begin(), vm::kUpgradableDescriptor.end()));
    ASSERT_EQ(device.size(), 2u);
    EXPECT_EQ(device[0].usage, 0x02);  // the mouse comes first
    EXPECT_EQ(device[0].input_report_length(), 4);
    EXPECT_EQ(feature_report_length_of(device, 5), 21);
    auto other = parse(Bytes(vm::kOtherLengthDescriptor.begin(), vm::kOtherLengthDescriptor.end()));
    EXPECT_EQ(feature_report_length_of(other, 5), 22);
}

}  // namespace
}  // namespace wxr::hid
