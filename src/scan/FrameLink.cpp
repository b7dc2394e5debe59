#include "FrameLink.h"

#include <utility>

TClock::time_point SteadyArrival(std::chrono::system_clock::time_point stamp) {
    using TWall = std::chrono::system_clock;
    TClock::time_point steady{};
    TWall::time_point wall{};
    auto gap = TWall::duration::max();
    for (int i = 0; i < 4 && gap > std::chrono::microseconds(20); ++i) {
        const TWall::time_point before = TWall::now();
        const TClock::time_point now = TClock::now();
        const TWall::time_point after = TWall::now();
        if (after - before < gap) {
            gap = after - before;
            steady = now;
            wall = before + gap / 2;
        }
    }
    const auto age = wall - stamp;
    if (age > TWall::duration::zero())
        return steady - std::chrono::duration_cast<TClock::duration>(age);
    return steady;
}

void TSendTally::Note(std::string failure) {
    ++sent_;
    if (failure.empty()) return;
    ++failed_;
    last_ = std::move(failure);
}

TProbeFault TSendTally::Fault() const {
    if (failed_ == 0) return {};
    return {TProbeFaultKind::LinkFailed, last_ + "（" + std::to_string(sent_) + " 个请求中 " +
                                             std::to_string(failed_) + " 个未能发出）"};
}
