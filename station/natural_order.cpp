#include "station/natural_order.h"

namespace wxr::station {

namespace {

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The run of digits at `at`, without its leading zeros.
std::u16string_view number_at(std::u16string_view text, std::size_t& at) {
    std::size_t start = at;
    while (at < text.size() && is_digit(text[at])) ++at;
    std::u16string_view digits = text.substr(start, at - start);
    std::size_t zeros = digits.find_first_not_of(u'0');
    return zeros == std::u16string_view::npos ? std::u16string_view{} : digits.substr(zeros);
}

}  // namespace

bool natural_less(std::u16string_view a, std::u16string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            std::u16string_view x = number_at(a, i), y = number_at(b, j);
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return j < b.size();
    // Equal but for leading zeros ("hidraw01", "hidraw1"): still one order.
    return a < b;
}

}  // namespace wxr::station
