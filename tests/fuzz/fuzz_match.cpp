// Arbitrary bytes as a station's candidates file (a CSV table or a JSON document): reading must
// never crash, hang or leak, and what is read pairs with itself and with a shifted copy one to
// one, every candidate accounted for once.
#include "detect/memory_fs.h"
#include "report/match.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using serflash::report::match_result;
using serflash::report::station;

void require_accounted(const station& a, const station& b, const match_result& m) {
    std::vector<int> seen_a(a.candidates.size()), seen_b(b.candidates.size());
    for (const auto& p : m.pairs) {
        if (p.a >= a.candidates.size() || p.b >= b.candidates.size()) std::abort();
        if (!(std::abs(p.difference_ms) <= p.allowed_ms)) std::abort();
        ++seen_a[p.a];
        ++seen_b[p.b];
    }
    for (const std::size_t i : m.unpaired_a) ++seen_a[i];
    for (const std::size_t i : m.untimed_a) ++seen_a[i];
    for (const std::size_t j : m.unpaired_b) ++seen_b[j];
    for (const std::size_t j : m.untimed_b) ++seen_b[j];
    for (const int n : seen_a)
        if (n != 1) std::abort();
    for (const int n : seen_b)
        if (n != 1) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    serflash::detect::testing::memory_fs fs;
    fs.files["a"] = std::vector<std::uint8_t>(data, data + size);
    std::string error;
    const auto a = serflash::report::read_station(fs, "a", error);
    if (!a) {
        if (error.empty()) std::abort(); // a refusal always says why
        return 0;
    }
    station b = *a;
    for (auto& c : b.candidates)
        if (c.ticks) *c.ticks += 123'456; // 12.3 ms later
    for (const double window : {0.0, 20.0, 1e6}) {
        const match_result self = serflash::report::match_stations(*a, *a, window);
        require_accounted(*a, *a, self);
        const match_result shifted = serflash::report::match_stations(*a, b, window);
        require_accounted(*a, b, shifted);
    }
    const std::string table = serflash::report::pairs_csv(*a, b, serflash::report::match_stations(*a, b, 50.0));
    if (table.empty()) std::abort();
    return 0;
}
