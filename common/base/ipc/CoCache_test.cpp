#include "ipc/CoCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testing/MessageCapture.h"

using namespace Vantrel;
using Vantrel::testing::MessageCapture;

namespace {

struct NameKey : CoCache::Key {
    explicit NameKey(std::string n) : name(std::move(n)) {}
    std::string name;
};

// What the fixture's entries report about their lives.
struct Ledger {
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> resets{0};
    std::atomic<int> exclusivityBreaches{0};
};

// Mixed into both entry kinds: a name to match and a count of current users.
// The ledger is shared: the cache destroys its entries after its derived part (and any
// member ledger) is gone.
struct Named {
    Named(std::shared_ptr<Ledger> l, std::string n) : ledger(std::move(l)), name(std::move(n)) {
        ++ledger->created;
    }
    ~Named() { ++ledger->destroyed; }
    bool serves(const CoCache::Key& key) const {
        auto* named = dynamic_cast<const NameKey*>(&key);
        return named != nullptr && named->name == name;
    }
    std::shared_ptr<Ledger> ledger;
    std::string name;
    std::atomic<int> users{0};
};

class PlainEntry : public CoCache::Entry, public Named {
public:
    using Named::Named;
    bool matches(const CoCache::Key& key) const override { return serves(key); }
};

class SharedTestEntry : public CoCache::SharedEntry, public Named {
public:
    using Named::Named;
    bool matches(const CoCache::Key& key) const override { return serves(key); }
    using SharedEntry::getRefCount;

    // Lingers after the last holder gave the entry's lock back, still inside the release.
    void decref() override {
        SharedEntry::decref();
        if (lingerMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
    }
    std::atomic<int> lingerMs{0};
};

class TestCache : public CoCache {
public:
    TestCache(int capacity, long long maxAge = -1, bool hitExpired = false,
              bool ageFromRelease = false)
        : CoCache(capacity, maxAge, hitExpired, ageFromRelease),
          ledgerPtr(std::make_shared<Ledger>()),
          ledger(*ledgerPtr) {}

    Entry* createEntry(const Key& key) override {
        if (factoryFails) return nullptr;
        const std::string& name = static_cast<const NameKey&>(key).name;
        if (sharedEntries) return new SharedTestEntry(ledgerPtr, name);
        return new PlainEntry(ledgerPtr, name);
    }

    bool reset(Entry& entry, const Key& key) override {
        if (!resetAccepts) return false;
        nameOf(&entry) = static_cast<const NameKey&>(key).name;
        ++ledger.resets;
        return true;
    }

    // Shorthands for the common calls.
    Entry* get(const char* name, bool matchLocked = false, bool recycle = false, int growBy = 0) {
        return getCacheEntry(NameKey(name), true, matchLocked, recycle, growBy);
    }
    Entry* find(const char* name) { return getCacheEntry(NameKey(name), false, false, false, 0); }

    static std::string& nameOf(Entry* entry) {
        if (auto* plain = dynamic_cast<PlainEntry*>(entry)) return plain->name;
        return dynamic_cast<SharedTestEntry*>(entry)->name;
    }

    // Entry names in iteration order (last slot first).
    std::vector<std::string> contents() {
        std::vector<std::string> names;
        Iterator it(*this);
        while (Entry* entry = it.next()) names.push_back(nameOf(entry));
        return names;
    }

    std::shared_ptr<Ledger> ledgerPtr;
    Ledger& ledger;
    bool factoryFails = false;
    bool resetAccepts = false;
    bool sharedEntries = false;
};

using Strings = std::vector<std::string>;

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(CoCache, CapacityBelowOneCountsAsOneAndNegativeAgeNeverExpires) {
    TestCache cache(0, -1, false);
    EXPECT_EQ(cache.getTotalCapacity(), 1);

    CoCache::Entry* a = cache.get("A");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->isLocked());
    cache.releaseCacheEntry(a);
    EXPECT_FALSE(a->isLocked());
    pause(5);
    EXPECT_EQ(cache.get("A"), a);
    cache.releaseCacheEntry(a);
    EXPECT_EQ(cache.ledger.created, 1);
    EXPECT_EQ(cache.ledger.destroyed, 0);
}

TEST(CoCache, ReleasedEntryIsFoundAgainAndMissWithoutCreateReturnsNull) {
    TestCache cache(2);
    CoCache::Entry* a = cache.get("A");
    cache.releaseCacheEntry(a);

    EXPECT_EQ(cache.find("A"), a);
    cache.releaseCacheEntry(a);
    EXPECT_EQ(cache.find("B"), nullptr);
    EXPECT_EQ(cache.ledger.created, 1);
    EXPECT_EQ(cache.contents(), Strings({"A"}));
}

TEST(CoCache, HeldEntryIsPassedOverWithoutMatchLocked) {
    TestCache cache(1);
    CoCache::Entry* first = cache.get("A");

    // No free slot and no growth: nothing to give.
    EXPECT_EQ(cache.get("A"), nullptr);
    // With growth, a second entry for the same key.
    CoCache::Entry* second = cache.get("A", false, false, 1);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(cache.getTotalCapacity(), 2);
    EXPECT_EQ(cache.contents(), Strings({"A", "A"}));
    cache.releaseCacheEntry(second);
    cache.releaseCacheEntry(first);
}

TEST(CoCache, MatchLockedWaitsForTheHolderOfAPlainEntry) {
    TestCache cache(1);
    CoCache::Entry* a = cache.get("A");
    std::atomic<bool> released{false};
    std::thread holder([&] {
        pause(50);
        released = true;
        cache.releaseCacheEntry(a);
    });

    CoCache::Entry* again = cache.get("A", true);
    EXPECT_TRUE(released);
    EXPECT_EQ(again, a);
    EXPECT_TRUE(again->isLocked());
    cache.releaseCacheEntry(again);
    holder.join();
}

TEST(CoCache, GrowthAddsSlotsWithoutChangingTheNominalCapacity) {
    TestCache cache(1);
    CoCache::Entry* a = cache.get("A");
    CoCache::Entry* b = cache.get("B", false, false, 2);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(cache.getTotalCapacity(), 3);
    // The next miss uses the free slot of the growth; no further growth is needed.
    CoCache::Entry* c = cache.get("C", false, false, 2);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(cache.getTotalCapacity(), 3);
    EXPECT_EQ(cache.contents(), Strings({"C", "B", "A"}));
    for (CoCache::Entry* e : {a, b, c}) cache.releaseCacheEntry(e);
}

TEST(CoCache, RecyclingReusesTheEntryWhenResetAccepts) {
    TestCache cache(1);
    cache.resetAccepts = true;
    CoCache::Entry* a = cache.get("A");
    cache.releaseCacheEntry(a);

    CoCache::Entry* b = cache.get("B", false, true);
    EXPECT_EQ(b, a);
    EXPECT_TRUE(b->isLocked());
    EXPECT_EQ(cache.ledger.resets, 1);
    EXPECT_EQ(cache.ledger.created, 1);
    EXPECT_EQ(cache.contents(), Strings({"B"}));
    cache.releaseCacheEntry(b);
}

TEST(CoCache, RecyclingReplacesTheEntryThroughTheFactoryOtherwise) {
    TestCache cache(1);
    CoCache::Entry* a = cache.get("A");
    cache.releaseCacheEntry(a);

    CoCache::Entry* b = cache.get("B", false, true);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(cache.ledger.created, 2);
    EXPECT_EQ(cache.ledger.destroyed, 1);
    EXPECT_EQ(cache.contents(), Strings({"B"}));
    EXPECT_EQ(cache.getTotalCapacity(), 1);
    cache.releaseCacheEntry(b);
}

TEST(CoCache, RecyclingTakesTheLeastRecentlyUsedUnlockedEntry) {
    TestCache cache(3);
    CoCache::Entry* held = cache.get("H");   // oldest, but held throughout
    pause(3);
    cache.releaseCacheEntry(cache.get("A"));
    pause(3);
    cache.releaseCacheEntry(cache.get("B"));
    pause(3);
    cache.releaseCacheEntry(cache.get("A"));   // A is now more recent than B

    cache.releaseCacheEntry(cache.get("C", false, true));
    EXPECT_EQ(cache.contents(), Strings({"C", "A", "H"}));
    cache.releaseCacheEntry(held);
}

TEST(CoCache, FreeSlotsFromGrowthDoNotLiftTheNominalCapacityWhenRecycling) {
    TestCache cache(1);
    CoCache::Entry* a = cache.get("A");
    CoCache::Entry* b = cache.get("B", false, false, 1);
    cache.releaseCacheEntry(a);
    cache.releaseCacheEntry(b);
    cache.removeEntry(NameKey("B"), false);   // slot 1 is free again

    cache.releaseCacheEntry(cache.get("C", false, true));
    // One live entry already fills the nominal capacity of 1: A is recycled, slot 1 stays free.
    EXPECT_EQ(cache.contents(), Strings({"C"}));
    EXPECT_EQ(cache.getTotalCapacity(), 2);
    EXPECT_EQ(cache.ledger.destroyed, 2);
}

TEST(CoCache, FullCacheOfHeldEntriesGivesNullWithoutGrowth) {
    TestCache cache(1);
    CoCache::Entry* a = cache.get("A");
    EXPECT_EQ(cache.get("B", false, true, 0), nullptr);
    // With growth allowed, the held entry is kept and the table grows.
    CoCache::Entry* b = cache.get("B", false, true, 1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(cache.contents(), Strings({"B", "A"}));
    cache.releaseCacheEntry(a);
    cache.releaseCacheEntry(b);
}

TEST(CoCache, FactoryFailureIsReportedAndLeavesTheCacheAsItWas) {
    MessageCapture capture;
    TestCache cache(1);
    cache.factoryFails = true;
    EXPECT_EQ(cache.get("A"), nullptr);
    EXPECT_EQ(capture.texts(), Strings({"Cache factory returned NULL."}));
    EXPECT_EQ(capture.messages()[0].level(), CoMsg::ERROR_LEVEL);

    // On recycling, the old entry stays when no replacement can be made.
    cache.factoryFails = false;
    cache.releaseCacheEntry(cache.get("A"));
    cache.factoryFails = true;
    EXPECT_EQ(cache.get("B", false, true), nullptr);
    EXPECT_EQ(cache.contents(), Strings({"A"}));
    EXPECT_EQ(cache.ledger.destroyed, 0);
}

TEST(CoCache, ExpiredEntriesAreDestroyedByTheNextSearch) {
    TestCache cache(2, 50 * 1000);
    CoCache::Entry* held = cache.get("H");
    cache.releaseCacheEntry(cache.get("A"));
    pause(120);

    // The search for B destroys A; the held entry is old too but never expires.
    cache.releaseCacheEntry(cache.get("B"));
    EXPECT_EQ(cache.ledger.destroyed, 1);
    EXPECT_EQ(cache.contents(), Strings({"B", "H"}));

    // An expired entry that matches is destroyed as well, and replaced.
    cache.releaseCacheEntry(held);
    pause(120);
    CoCache::Entry* h = cache.get("H");
    EXPECT_EQ(cache.ledger.destroyed, 3);
    EXPECT_EQ(cache.ledger.created, 4);
    cache.releaseCacheEntry(h);
}

// An entry held for longer than the maximum age: by default its age counts from the hand-out
// and it is destroyed by a search right after its release; with ageFromRelease it is young.
TEST(CoCache, AgeCountsFromTheHandOutOrWhenAskedFromTheRelease) {
    for (const bool fromRelease : {false, true}) {
        TestCache cache(2, 100 * 1000, false, fromRelease);
        CoCache::Entry* a = cache.get("A");
        pause(250);
        cache.releaseCacheEntry(a);
        cache.releaseCacheEntry(cache.get("B"));
        EXPECT_EQ(cache.contents(), fromRelease ? Strings({"B", "A"}) : Strings({"B"}))
            << fromRelease;
    }
}

TEST(CoCache, HitExpiredStillHandsOutAMatchingExpiredEntry) {
    TestCache cache(2, 50 * 1000, true);
    CoCache::Entry* a = cache.get("A");
    cache.releaseCacheEntry(a);
    cache.releaseCacheEntry(cache.get("B"));
    pause(120);

    EXPECT_EQ(cache.find("A"), a);
    // The expired entry that did not match (B) went on the way.
    EXPECT_EQ(cache.contents(), Strings({"A"}));
    cache.releaseCacheEntry(a);
}

TEST(CoCache, SharedEntryTakenTwiceCountsBothHolders) {
    TestCache cache(1);
    cache.sharedEntries = true;
    CoCache::Entry* first = cache.get("S", true);
    CoCache::Entry* second = cache.get("S", true);
    ASSERT_EQ(first, second);
    auto* shared = dynamic_cast<SharedTestEntry*>(first);
    EXPECT_EQ(shared->getRefCount(), 2);

    cache.releaseCacheEntry(first);
    EXPECT_EQ(shared->getRefCount(), 1);
    EXPECT_TRUE(shared->isLocked());
    cache.releaseCacheEntry(second);
    EXPECT_EQ(shared->getRefCount(), 0);
    EXPECT_FALSE(shared->isLocked());

    // Without matchLocked a held shared entry is passed over like any held entry.
    CoCache::Entry* third = cache.get("S", true);
    CoCache::Entry* other = cache.get("S", false, false, 1);
    EXPECT_NE(other, third);
    EXPECT_EQ(cache.ledger.created, 2);
    cache.releaseCacheEntry(other);
    cache.releaseCacheEntry(third);
}

TEST(CoCache, EntryExpiringWhileItsLastHolderIsStillReleasingItWaitsForTheRelease) {
    TestCache cache(2, 0);   // every unlocked entry has expired
    cache.sharedEntries = true;
    CoCache::Entry* e = cache.get("S", true);
    dynamic_cast<SharedTestEntry*>(e)->lingerMs = 100;
    std::thread holder([&] { cache.releaseCacheEntry(e); });
    while (e->isLocked()) std::this_thread::yield();

    // The search meets S while its release is still running on the holder's thread: it either
    // waits for the release and destroys S, or passes S over as still held; it never frees S
    // under its holder (the sanitizer build would see that).
    cache.releaseCacheEntry(cache.get("X", true));
    holder.join();
    const int destroyedDuringRelease = cache.ledger.destroyed;
    EXPECT_LE(destroyedDuringRelease, 1);
    // Once released, S has expired like any unused entry: the next search destroys it.
    cache.releaseCacheEntry(cache.get("Y", true));
    EXPECT_GE(cache.ledger.destroyed, 1);
    EXPECT_EQ(cache.ledger.destroyed, cache.ledger.created - 1);  // only Y is left
}

TEST(CoCache, RemovalsDestroyMatchingEntriesAndSkipHeldOnesOnRequest) {
    TestCache cache(5);
    CoCache::Entry* heldA = cache.get("A");
    cache.releaseCacheEntry(cache.get("A", false));   // a second, released A
    CoCache::Entry* b1 = cache.get("B");
    CoCache::Entry* b2 = cache.get("B");
    cache.releaseCacheEntry(b1);
    cache.releaseCacheEntry(b2);
    CoCache::Entry* c = cache.get("C");
    cache.releaseCacheEntry(c);
    ASSERT_EQ(cache.contents(), Strings({"C", "B", "B", "A", "A"}));

    cache.removeEntry(NameKey("A"), true);   // skips the held first A, removes the second
    EXPECT_EQ(cache.contents(), Strings({"C", "B", "B", "A"}));
    cache.removeEntry(NameKey("B"), true);   // only the first match
    EXPECT_EQ(cache.contents(), Strings({"C", "B", "A"}));
    cache.releaseCacheEntry(cache.get("B"));
    cache.removeAllEntries(NameKey("B"), false);
    EXPECT_EQ(cache.contents(), Strings({"C", "A"}));
    cache.resetCache(true);
    EXPECT_EQ(cache.contents(), Strings({"A"}));
    cache.releaseCacheEntry(heldA);
    cache.resetCache(false);
    EXPECT_EQ(cache.contents(), Strings());
    EXPECT_EQ(cache.ledger.destroyed, cache.ledger.created);
}

TEST(CoCache, RemovalWithoutSkipWaitsForTheLastHolder) {
    for (bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "shared entry" : "plain entry");
        TestCache cache(1);
        cache.sharedEntries = shared;
        CoCache::Entry* e = cache.get("A", true);
        if (shared) cache.get("A", true);   // a second holder of the same entry
        std::atomic<bool> released{false};
        std::thread holder([&] {
            pause(50);
            released = true;
            cache.releaseCacheEntry(e);
            if (shared) cache.releaseCacheEntry(e);
        });
        cache.removeEntry(NameKey("A"), false);
        EXPECT_TRUE(released);
        EXPECT_EQ(cache.ledger.destroyed, 1);
        holder.join();
    }
}

TEST(CoCache, IteratorWalksLastToFirstAndHandsOverRemovedEntries) {
    TestCache cache(3);
    for (const char* name : {"A", "B", "C"}) cache.releaseCacheEntry(cache.get(name));
    std::vector<CoCache::Entry*> taken;
    {
        CoCache::Iterator it(cache);
        it.remove();   // nothing returned yet: no effect
        ASSERT_NE(it.next(), nullptr);   // C
        CoCache::Entry* b = it.next();
        it.remove();
        taken.push_back(b);
        taken.push_back(it.pop());   // the highest occupied slot: C
        EXPECT_NE(it.next(), nullptr);   // A
        EXPECT_EQ(it.next(), nullptr);
        EXPECT_EQ(it.next(), nullptr);
    }
    EXPECT_EQ(TestCache::nameOf(taken[0]), "B");
    EXPECT_EQ(TestCache::nameOf(taken[1]), "C");
    EXPECT_EQ(cache.contents(), Strings({"A"}));
    EXPECT_EQ(cache.ledger.destroyed, 0);
    for (CoCache::Entry* e : taken) delete e;

    TestCache empty(2);
    CoCache::Iterator it(empty);
    EXPECT_EQ(it.pop(), nullptr);
    EXPECT_EQ(it.next(), nullptr);
}

TEST(CoCache, DestructionDestroysEveryEntry) {
    auto cache = std::make_unique<TestCache>(1);
    std::shared_ptr<Ledger> ledger = cache->ledgerPtr;
    CoCache::Entry* a = cache->get("A");
    cache->releaseCacheEntry(cache->get("B", false, false, 3));
    cache->releaseCacheEntry(a);
    cache->sharedEntries = true;
    cache->releaseCacheEntry(cache->get("S", true, false, 0));
    ASSERT_EQ(ledger->created, 3);
    cache.reset();
    EXPECT_EQ(ledger->destroyed, 3);
}

TEST(CoCache, EntryLockGuardReleasesOnceAtTheEndOfItsScope) {
    TestCache cache(1);
    CoCache::Entry* a;
    {
        CoCache::EntryLockGuard guard(cache, cache.get("A"));
        a = guard.getEntry();
        ASSERT_NE(a, nullptr);
        {
            CoCache::EntryLockGuard moved(std::move(guard));
            EXPECT_EQ(guard.getEntry(), nullptr);
            EXPECT_EQ(moved.getEntry(), a);
        }
        EXPECT_FALSE(a->isLocked());
        // An empty guard accepts a locked entry, and one release still follows.
        guard.setEntry(cache.get("A"));
        EXPECT_TRUE(a->isLocked());
    }
    EXPECT_FALSE(a->isLocked());
    // Exactly one count was given back: the entry can be taken once, not twice.
    EXPECT_TRUE(a->tryLock());
    EXPECT_FALSE(a->tryLock());
    a->release();

    CoCache::EntryLockGuard empty(cache, nullptr);
    EXPECT_EQ(empty.getEntry(), nullptr);
}

TEST(CoCacheDeathTest, EntryLockGuardContracts) {
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    TestCache cache(2);
    CoCache::Entry* a = cache.get("A");
    CoCache::Entry* b = cache.get("B");
    cache.releaseCacheEntry(b);
    EXPECT_DEATH({ CoCache::EntryLockGuard guard(cache, b); }, "lockedEntry_->isLocked\\(\\)");
    EXPECT_DEATH(
        {
            CoCache::EntryLockGuard guard(cache, a);
            guard.setEntry(a);
        },
        "lockedEntry_ == 0");
    cache.releaseCacheEntry(a);
}

// Many threads on few keys, in every mode at once: exclusive users must never overlap, and the
// cache's own bookkeeping must survive entries being released while others expire, recycle or
// remove them (maximum age 0 makes every released entry expire at once).
TEST(CoCache, ConcurrentCallersNeverShareAPlainEntry) {
    struct Mode {
        const char* name;
        long long maxAge;
        bool recycle;
        int growBy;
        bool matchLocked;
    };
    const Mode modes[] = {
        {"recycle", -1, true, 0, false},
        {"grow", -1, false, 1, false},
        {"wait for holder", -1, false, 0, true},
        {"expire at once", 0, true, 1, false},
    };
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.name);
        TestCache cache(2, mode.maxAge);
        cache.resetAccepts = true;
        std::atomic<int> handedOut{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t) {
            threads.emplace_back([&, t] {
                const char* keys[] = {"A", "B", "C"};
                for (int i = 0; i < 300; ++i) {
                    NameKey key(keys[(t + i) % 3]);
                    {
                        CoCache::EntryLockGuard guard(
                            cache, cache.getCacheEntry(key, true, mode.matchLocked, mode.recycle,
                                                       mode.growBy));
                        auto* plain = dynamic_cast<PlainEntry*>(guard.getEntry());
                        if (plain == nullptr) continue;
                        ++handedOut;
                        if (plain->users.fetch_add(1) != 0) ++cache.ledger.exclusivityBreaches;
                        if (!plain->serves(key)) ++cache.ledger.exclusivityBreaches;
                        std::this_thread::yield();
                        plain->users.fetch_sub(1);
                    }
                    // Never while holding an entry: another caller may wait for it holding
                    // the cache's mutex.
                    if (i % 50 == 0) cache.removeEntry(key, true);
                }
            });
        }
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(cache.ledger.exclusivityBreaches, 0);
        EXPECT_GT(handedOut, 0);
        for (const std::string& name : cache.contents()) EXPECT_TRUE(name == "A" || name == "B" || name == "C");
    }
}

TEST(CoCache, ConcurrentSharersKeepAConsistentCount) {
    for (long long maxAge : {-1LL, 0LL}) {
        SCOPED_TRACE(maxAge);
        TestCache cache(1, maxAge);
        cache.sharedEntries = true;
        std::vector<std::thread> threads;
        std::atomic<int> failures{0};
        for (int t = 0; t < 6; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 300; ++i) {
                    CoCache::Entry* e = cache.getCacheEntry(NameKey("S"), true, true, false, 1);
                    if (e == nullptr) continue;
                    auto* shared = dynamic_cast<SharedTestEntry*>(e);
                    if (!shared->isLocked() || shared->getRefCount() < 1) ++failures;
                    cache.releaseCacheEntry(e);
                }
            });
        }
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(failures, 0);
        CoCache::Iterator it(cache);
        while (CoCache::Entry* e = it.next()) {
            EXPECT_EQ(dynamic_cast<SharedTestEntry*>(e)->getRefCount(), 0);
            EXPECT_FALSE(e->isLocked());
        }
    }
}

}  // namespace
