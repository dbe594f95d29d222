#include "vantrel/server/ReplyRateLimit.h"

#include <algorithm>

namespace vantreld {

double ReplyRateLimit::refilled(const Bucket& bucket, uint64_t nowMicros) const {
    const uint64_t elapsed = nowMicros > bucket.lastMicros ? nowMicros - bucket.lastMicros : 0;
    return std::min(BURST, bucket.tokens + static_cast<double>(elapsed) * RATE_PER_SECOND / 1e6);
}

bool ReplyRateLimit::allow(const std::string& source, uint64_t nowMicros) {
    auto found = buckets_.find(source);
    if (found == buckets_.end()) {
        if (buckets_.size() >= MAX_SOURCES) makeRoom(nowMicros);
        found = buckets_.emplace(source, Bucket{BURST, nowMicros}).first;
    }
    Bucket& bucket = found->second;
    bucket.tokens = refilled(bucket, nowMicros);
    bucket.lastMicros = nowMicros;
    if (bucket.tokens < 1) return false;
    bucket.tokens -= 1;
    return true;
}

void ReplyRateLimit::makeRoom(uint64_t nowMicros) {
    for (auto it = buckets_.begin(); it != buckets_.end();) {
        if (refilled(it->second, nowMicros) >= BURST) {
            it = buckets_.erase(it);  // as good as never heard
        } else {
            ++it;
        }
    }
    // Thousands of sources spending at once: forged ones. Starting over costs their target
    // at most one more burst per MAX_SOURCES / 4 datagrams, and keeps each pass cheap.
    if (buckets_.size() > MAX_SOURCES - MAX_SOURCES / 4) buckets_.clear();
}

}  // namespace vantreld
