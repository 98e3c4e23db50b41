// Writes the demo firmware embedded by default: a Cortex-M style image with a
// vector table, code-like filler, a constant-data area, an info block
// (model 16, version 57, sensor 3, customer "Demo") and erased-flash padding
// whose last byte brings the checksum to 0x7DF8. The output depends on
// nothing but this file and the arguments, so it can be checked against the
// committed copy. A model byte, version byte (0-255) and customer text (up to
// 16 bytes) given make another firmware, e.g. for trying a release of it.
//
// Usage: make_demo_firmware <output file> [model byte [version byte [customer]]]
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <vector>

#include "image/image_info.h"

namespace {

constexpr std::size_t kImageLength = 38'648;
constexpr std::size_t kInfoBlockOffset = 37'672;
constexpr std::uint32_t kTargetChecksum = 0x7DF8;
constexpr std::uint8_t kDemoModel = 16;
constexpr std::uint8_t kVersion = 57;
constexpr std::uint8_t kSensor = 3;
constexpr std::string_view kCustomer = "Demo";

constexpr std::uint32_t kFlashBase = 0x0800'0000;
constexpr std::uint32_t kInitialStack = 0x2000'2000;  // top of 8 KiB SRAM
constexpr std::uint32_t kSramBase = 0x2000'0000;
constexpr std::size_t kCoreVectors = 16;
constexpr std::size_t kIrqVectors = 32;
constexpr std::size_t kVectorTableBytes = (kCoreVectors + kIrqVectors) * 4;
constexpr std::size_t kDataAreaOffset = 33'792;  // constant tables after the code
constexpr std::size_t kBlockEnd = kInfoBlockOffset + 11;
constexpr std::uint8_t kErasedFlash = 0xFF;
constexpr std::size_t kTuningByte = kImageLength - 1;
constexpr std::uint32_t kMaxSeeds = 100'000;  // a fitting seed turns up within a few hundred

// Thumb encodings used for the filler.
constexpr std::uint16_t kPushR4Lr = 0xB510;
constexpr std::uint16_t kPopR4Pc = 0xBD10;
constexpr std::uint16_t kBranchToSelf = 0xE7FE;
constexpr std::uint16_t kBxLr = 0x4770;
constexpr std::uint16_t kNop = 0xBF00;

class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 1'664'525u + 1'013'904'223u;
        return state_ >> 8;
    }
    std::uint32_t below(std::uint32_t bound) { return next() % bound; }

private:
    std::uint32_t state_;
};

class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& image) : image_(image) {}
    std::size_t at() const { return at_; }
    void seek(std::size_t offset) { at_ = offset; }
    void u8(std::uint8_t value) { image_.at(at_++) = value; }
    void u16(std::uint16_t value) {
        u8(static_cast<std::uint8_t>(value));
        u8(static_cast<std::uint8_t>(value >> 8));
    }
    void u32(std::uint32_t value) {
        u16(static_cast<std::uint16_t>(value));
        u16(static_cast<std::uint16_t>(value >> 16));
    }
    void align4(std::uint16_t fill) {
        while (at_ % 4 != 0) {
            u16(fill);
        }
    }

private:
    std::vector<std::uint8_t>& image_;
    std::size_t at_ = 0;
};

std::uint32_t thumb_address(std::size_t offset) {
    return kFlashBase + static_cast<std::uint32_t>(offset) + 1;
}

std::uint16_t random_instruction(Lcg& rng) {
    const auto reg = [&] { return static_cast<std::uint16_t>(rng.below(8)); };
    const auto imm = [&](std::uint32_t bound) { return static_cast<std::uint16_t>(rng.below(bound)); };
    switch (rng.below(9)) {
        case 0: return static_cast<std::uint16_t>(0x2000 | reg() << 8 | imm(256));              // movs
        case 1: return static_cast<std::uint16_t>(0x1C00 | imm(8) << 6 | reg() << 3 | reg());   // adds #imm3
        case 2: return static_cast<std::uint16_t>(0x6800 | imm(32) << 6 | reg() << 3 | reg());  // ldr [rn, #]
        case 3: return static_cast<std::uint16_t>(0x6000 | imm(32) << 6 | reg() << 3 | reg());  // str [rn, #]
        case 4: return static_cast<std::uint16_t>(0x2800 | reg() << 8 | imm(256));              // cmp #imm8
        case 5: return static_cast<std::uint16_t>(0xD100 | imm(16));                            // bne forward
        case 6: return static_cast<std::uint16_t>(0x0000 | imm(32) << 6 | reg() << 3 | reg());  // lsls
        case 7: return static_cast<std::uint16_t>(0x4800 | reg() << 8 | imm(16));               // ldr [pc, #]
        default: return static_cast<std::uint16_t>(0x1800 | reg() << 6 | reg() << 3 | reg());  // adds reg
    }
}

// One function: prologue, body, epilogue, then its literal pool.
void write_function(Writer& out, Lcg& rng) {
    out.u16(kPushR4Lr);
    for (std::uint32_t n = 8 + rng.below(56); n > 0; --n) {
        out.u16(random_instruction(rng));
    }
    out.u16(kPopR4Pc);
    out.align4(kNop);
    for (std::uint32_t n = 1 + rng.below(4); n > 0; --n) {
        const bool ram = rng.below(2) == 0;
        out.u32(ram ? kSramBase + 4 * rng.below(0x800) : kFlashBase + 4 * rng.below(kImageLength / 4));
    }
}

// Fixed handlers right after the vector table; returns their offsets.
struct Handlers {
    std::size_t reset = 0;
    std::size_t default_handler = 0;
    std::size_t systick = 0;
};

Handlers write_handlers(Writer& out, Lcg& rng) {
    Handlers handlers;
    handlers.default_handler = out.at();
    out.u16(kBranchToSelf);
    handlers.systick = out.at();
    out.u16(0x4802);  // ldr r0, [pc, #8]: the literal below
    out.u16(0x6801);  // ldr r1, [r0]
    out.u16(0x3101);  // adds r1, #1
    out.u16(0x6001);  // str r1, [r0]
    out.u16(kBxLr);
    out.align4(kNop);
    out.u32(kSramBase);  // tick counter
    handlers.reset = out.at();
    write_function(out, rng);
    return handlers;
}

void write_vector_table(Writer& out, const Handlers& handlers) {
    out.seek(0);
    out.u32(kInitialStack);
    out.u32(thumb_address(handlers.reset));
    for (std::size_t vector = 2; vector < kCoreVectors + kIrqVectors; ++vector) {
        const bool reserved = (vector >= 7 && vector <= 10) || vector == 13;
        if (reserved) {
            out.u32(0);
        } else if (vector == 15) {
            out.u32(thumb_address(handlers.systick));
        } else {
            out.u32(thumb_address(handlers.default_handler));
        }
    }
}

void write_code(Writer& out, Lcg& rng) {
    out.seek(kVectorTableBytes);
    const Handlers handlers = write_handlers(out, rng);
    while (out.at() + 256 < kDataAreaOffset) {
        write_function(out, rng);
    }
    while (out.at() < kDataAreaOffset) {
        out.u16(kNop);
    }
    const std::size_t end = out.at();
    write_vector_table(out, handlers);
    out.seek(end);
}

void write_data(Writer& out, Lcg& rng) {
    out.seek(kDataAreaOffset);
    const std::size_t tag = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(kInfoBlockOffset) +
                                                     wxr::kCustomerTagOffset);
    while (out.at() < tag) {
        out.u16(static_cast<std::uint16_t>(rng.below(0x1000)));  // lookup tables of 12-bit values
    }
}

struct InfoFields {
    std::uint8_t model = kDemoModel;
    std::uint8_t version = kVersion;
    std::string_view customer = kCustomer;
};

void write_info_block(Writer& out, const InfoFields& fields) {
    out.seek(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(kInfoBlockOffset) + wxr::kCustomerTagOffset));
    out.u8(wxr::kCustomerTag);
    out.u8(wxr::kCustomerTag);
    out.u16(0);
    for (int i = 0; i < wxr::kCustomerTextLength; ++i) {
        const bool text = i < static_cast<int>(fields.customer.size());
        out.u8(text ? static_cast<std::uint8_t>(fields.customer[static_cast<std::size_t>(i)]) : 0);
    }
    for (const std::uint8_t byte : wxr::kInfoMarker) {
        out.u8(byte);
    }
    out.u8(fields.model);
    out.u8(fields.version);
    out.u8(kSensor);
    out.u32(0x0000'0001);  // info7 .. info10
    while (out.at() < kImageLength) {
        out.u8(kErasedFlash);
    }
}

std::vector<std::uint8_t> build(std::uint32_t seed, const InfoFields& fields) {
    std::vector<std::uint8_t> image(kImageLength, 0);
    Lcg rng(seed);
    Writer out(image);
    write_code(out, rng);
    write_data(out, rng);
    write_info_block(out, fields);
    return image;
}

// Its own sum, so that a fault in the tool's checksum cannot hide in the image.
std::uint32_t checksum(const std::vector<std::uint8_t>& image) {
    std::uint32_t sum = 0;
    for (const std::uint8_t byte : image) {
        sum += byte;
    }
    return sum & 0xFFFF;
}

bool marker_only_at_block(const std::vector<std::uint8_t>& image) {
    const auto found = std::search(image.begin(), image.end(), wxr::kInfoMarker.begin(), wxr::kInfoMarker.end());
    return found == image.begin() + kInfoBlockOffset;
}

// The last padding byte takes up what the checksum lacks; a seed fits when
// that is a single byte.
bool tune_checksum(std::vector<std::uint8_t>& image) {
    image[kTuningByte] = 0;
    const std::uint32_t lacking = (kTargetChecksum - checksum(image)) & 0xFFFF;
    if (lacking > 0xFF) {
        return false;
    }
    image[kTuningByte] = static_cast<std::uint8_t>(lacking);
    return true;
}

// A byte 0-255 written in decimal or hex; false for anything else.
bool parse_byte(const char* word, std::uint8_t& byte) {
    char* end = nullptr;
    const long value = std::strtol(word, &end, 0);
    if (end == word || *end != '\0' || value < 0 || value > 0xFF) return false;
    byte = static_cast<std::uint8_t>(value);
    return true;
}

bool parse_fields(int argc, char** argv, InfoFields& fields) {
    if (argc < 2 || argc > 5) return false;
    if (argc > 2 && !parse_byte(argv[2], fields.model)) return false;
    if (argc > 3 && !parse_byte(argv[3], fields.version)) return false;
    if (argc > 4) fields.customer = argv[4];
    return fields.customer.size() <= static_cast<std::size_t>(wxr::kCustomerTextLength);
}

}  // namespace

int main(int argc, char** argv) {
    static_assert(kBlockEnd <= kTuningByte);
    InfoFields fields;
    if (!parse_fields(argc, argv, fields)) {
        std::fprintf(stderr, "usage: make_demo_firmware <output file> [model byte [version byte [customer]]]\n"
                             "       (customer: up to 16 bytes)\n");
        return 2;
    }
    for (std::uint32_t seed = 1; seed <= kMaxSeeds; ++seed) {
        std::vector<std::uint8_t> image = build(seed, fields);
        if (!marker_only_at_block(image) || !tune_checksum(image)) {
            continue;
        }
        std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!file.flush()) {
            std::fprintf(stderr, "make_demo_firmware: cannot write %s\n", argv[1]);
            return 1;
        }
        std::printf("%s: %zu bytes, seed %u, checksum %04X\n", argv[1], image.size(), seed,
                    static_cast<unsigned>(checksum(image)));
        return 0;
    }
    std::fprintf(stderr, "make_demo_firmware: no seed gives the checksum\n");
    return 1;
}
