#include "base/Date.h"

namespace olvex {

Date Date::now() {
    using namespace std::chrono;
    auto since = duration_cast<duration<double>>(system_clock::now().time_since_epoch()).count();
    return fromUnix(since);
}

} // namespace olvex
