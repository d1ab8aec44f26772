#include "detect/core_budget.h"

#include <algorithm>
#include <thread>

namespace serflash::detect {

core_budget core_budget::of(unsigned cores) { return core_budget(std::max(1U, cores)); }

core_budget core_budget::machine() { return of(std::thread::hardware_concurrency()); }

unsigned core_budget::cores() const { return bounded() ? cores_ : machine().cores_; }

unsigned core_budget::at_once(unsigned wanted) const {
    wanted = std::max(1U, wanted);
    return bounded() ? std::min(wanted, cores_) : wanted;
}

core_budget core_budget::share(unsigned parts) const {
    if (!bounded()) return {};
    return of(cores_ / std::max(1U, parts));
}

unsigned core_budget::threads(unsigned requested) const {
    if (requested == 0) return cores();
    return bounded() ? std::min(requested, cores_) : requested;
}

} // namespace serflash::detect
