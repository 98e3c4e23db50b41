#include "device/hid_descriptor.h"

#include <algorithm>

namespace wxr::hid {

namespace {

// Item types and tags of the HID class definition, section 6.2.2.
constexpr std::uint8_t kTypeMain = 0;
constexpr std::uint8_t kTypeGlobal = 1;
constexpr std::uint8_t kTypeLocal = 2;
constexpr std::uint8_t kLongItemPrefix = 0xFE;

constexpr std::uint8_t kMainInput = 0x8;
constexpr std::uint8_t kMainOutput = 0x9;
constexpr std::uint8_t kMainFeature = 0xB;
constexpr std::uint8_t kMainCollection = 0xA;
constexpr std::uint8_t kMainEndCollection = 0xC;

constexpr std::uint8_t kGlobalUsagePage = 0x0;
constexpr std::uint8_t kGlobalReportSize = 0x7;
constexpr std::uint8_t kGlobalReportId = 0x8;
constexpr std::uint8_t kGlobalReportCount = 0x9;
constexpr std::uint8_t kGlobalPush = 0xA;
constexpr std::uint8_t kGlobalPop = 0xB;

constexpr std::uint8_t kLocalUsage = 0x0;

// Linux refuses descriptors that push deeper, so no hidraw node has one.
constexpr std::size_t kMaxGlobalStackDepth = 4;
// A report must fit the 16-bit lengths the capabilities carry.
constexpr std::uint64_t kMaxReportBits = 8ull * 0xFFFE;

struct Globals {
    std::uint16_t usage_page = 0;
    std::uint32_t report_size = 0;
    std::uint32_t report_count = 0;
    std::uint8_t report_id = 0;
};

struct Item {
    std::uint8_t type = 0;
    std::uint8_t tag = 0;
    std::uint8_t size = 0;  // data bytes
    std::uint32_t data = 0;
};

class Parser {
public:
    bool run(std::span<const std::uint8_t> d);
    std::vector<TopLevelCollection> collections;

private:
    bool main_item(const Item& item);
    bool global_item(const Item& item);
    void local_item(const Item& item);
    bool add_field(ReportBits TopLevelCollection::*kind);

    Globals globals_;
    std::vector<Globals> stack_;
    std::optional<std::uint32_t> usage_;  // the last Usage before the next main item
    std::uint8_t usage_size_ = 0;
    std::size_t depth_ = 0;
};

// Reads the item at d[at]; returns the bytes it takes, 0 when truncated.
std::size_t read_item(std::span<const std::uint8_t> d, std::size_t at, Item& item) {
    std::uint8_t prefix = d[at];
    if (prefix == kLongItemPrefix) {
        // Long items carry no report layout: skip them whole.
        if (at + 2 >= d.size()) return 0;
        std::size_t total = 3 + std::size_t{d[at + 1]};
        item = Item{0xFF, 0xFF, 0, 0};
        return at + total <= d.size() ? total : 0;
    }
    static constexpr std::uint8_t kDataBytes[] = {0, 1, 2, 4};
    item.size = kDataBytes[prefix & 0x3];
    item.type = (prefix >> 2) & 0x3;
    item.tag = prefix >> 4;
    if (at + 1 + item.size > d.size()) return 0;
    item.data = 0;
    for (std::uint8_t i = 0; i < item.size; ++i) item.data |= std::uint32_t{d[at + 1 + i]} << (8 * i);
    return 1 + std::size_t{item.size};
}

bool Parser::run(std::span<const std::uint8_t> d) {
    for (std::size_t at = 0; at < d.size();) {
        Item item;
        std::size_t taken = read_item(d, at, item);
        if (taken == 0) return false;
        at += taken;
        bool ok = true;
        if (item.type == kTypeMain) {
            ok = main_item(item);
        } else if (item.type == kTypeGlobal) {
            ok = global_item(item);
        } else if (item.type == kTypeLocal) {
            local_item(item);
        }
        if (!ok) return false;
    }
    return depth_ == 0;
}

bool Parser::main_item(const Item& item) {
    bool ok = true;
    switch (item.tag) {
    case kMainCollection:
        if (depth_ == 0) {
            TopLevelCollection tlc;
            tlc.usage_page = globals_.usage_page;
            if (usage_) {
                tlc.usage = static_cast<std::uint16_t>(*usage_ & 0xFFFF);
                // A four-byte Usage names its page in the upper half.
                if (usage_size_ == 4) tlc.usage_page = static_cast<std::uint16_t>(*usage_ >> 16);
            }
            collections.push_back(tlc);
        }
        ++depth_;
        break;
    case kMainEndCollection:
        if (depth_ == 0) return false;
        --depth_;
        break;
    case kMainInput: ok = add_field(&TopLevelCollection::input); break;
    case kMainOutput: ok = add_field(&TopLevelCollection::output); break;
    case kMainFeature: ok = add_field(&TopLevelCollection::feature); break;
    default: break;
    }
    usage_.reset();
    return ok;
}

// Constant fields (padding) count like data fields: they travel in the report.
bool Parser::add_field(ReportBits TopLevelCollection::*kind) {
    // A field outside every collection belongs to no top-level collection.
    if (depth_ == 0 || collections.empty()) return true;
    auto& bits = (collections.back().*kind)[globals_.report_id];
    std::uint64_t total = bits + std::uint64_t{globals_.report_size} * globals_.report_count;
    if (total > kMaxReportBits) return false;
    bits = static_cast<std::uint32_t>(total);
    return true;
}

bool Parser::global_item(const Item& item) {
    switch (item.tag) {
    case kGlobalUsagePage: globals_.usage_page = static_cast<std::uint16_t>(item.data); break;
    case kGlobalReportSize: globals_.report_size = item.data; break;
    case kGlobalReportCount: globals_.report_count = item.data; break;
    case kGlobalReportId:
        if (item.data == 0 || item.data > 0xFF) return false;
        globals_.report_id = static_cast<std::uint8_t>(item.data);
        break;
    case kGlobalPush:
        if (stack_.size() == kMaxGlobalStackDepth) return false;
        stack_.push_back(globals_);
        break;
    case kGlobalPop:
        if (stack_.empty()) return false;
        globals_ = stack_.back();
        stack_.pop_back();
        break;
    default: break;
    }
    return true;
}

void Parser::local_item(const Item& item) {
    if (item.tag != kLocalUsage) return;
    usage_ = item.data;
    usage_size_ = item.size;
}

std::uint16_t report_length(const ReportBits& reports) {
    std::uint32_t longest = 0;
    for (const auto& [id, bits] : reports) longest = std::max(longest, bits);
    if (reports.empty()) return 0;
    return static_cast<std::uint16_t>((longest + 7) / 8 + 1);
}

}  // namespace

std::uint16_t TopLevelCollection::input_report_length() const { return report_length(input); }
std::uint16_t TopLevelCollection::output_report_length() const { return report_length(output); }
std::uint16_t TopLevelCollection::feature_report_length() const { return report_length(feature); }

std::optional<std::vector<TopLevelCollection>> parse_report_descriptor(
    std::span<const std::uint8_t> descriptor) {
    Parser parser;
    if (!parser.run(descriptor)) return std::nullopt;
    return std::move(parser.collections);
}

std::uint16_t feature_report_length_of(const std::vector<TopLevelCollection>& collections,
                                       std::uint8_t report_id) {
    if (report_id == 0) return 0;
    for (const auto& tlc : collections) {
        if (tlc.feature.contains(report_id)) return tlc.feature_report_length();
    }
    return 0;
}

}  // namespace wxr::hid
