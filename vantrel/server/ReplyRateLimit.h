// How often vantreld answers one source address on the discovery group: a token bucket per
// address, so that searches with a forged source cannot turn the server into an amplifier
// aimed at that address, while a client searching now and then is always answered.
//
// Each address may have BURST answers at once and RATE_PER_SECOND more every second. At most
// MAX_SOURCES addresses are remembered: when the table is full, addresses whose bucket has
// filled up again are forgotten, and when that frees less than a quarter of it (a flood of
// forged sources), all of them.
//
// Threads: a plain value (the discovery thread's).
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace vantreld {

class ReplyRateLimit {
public:
    static constexpr double RATE_PER_SECOND = 10;
    static constexpr double BURST = 20;
    static constexpr size_t MAX_SOURCES = 4096;

    // Whether `source` may be answered at `nowMicros` (a steady clock); counts the answer.
    bool allow(const std::string& source, uint64_t nowMicros);
    size_t sources() const { return buckets_.size(); }

private:
    struct Bucket {
        double tokens;
        uint64_t lastMicros;
    };
    double refilled(const Bucket& bucket, uint64_t nowMicros) const;
    void makeRoom(uint64_t nowMicros);

    std::map<std::string, Bucket> buckets_;
};

}  // namespace vantreld
