#include "ipc/CoSortedQueue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ipc/IpcTestSupport.h"
#include "testing/MessageCapture.h"

namespace Vantrel {
namespace {

// One queuing step: the item's name, and how it is queued.
struct Step {
    char name;
    enum { PLAIN, FRONT, SORTED } how;
    unsigned tag;
};

Step sorted(char name, unsigned tag) { return {name, Step::SORTED, tag}; }
Step plain(char name) { return {name, Step::PLAIN, 0}; }
Step front(char name) { return {name, Step::FRONT, 0}; }

std::string leavingOrder(const std::vector<Step>& steps) {
    static const char NAMES[] = "abcdefghijklmnopqrstuvwxyz";
    auto itemFor = [](char name) { return const_cast<char*>(&NAMES[name - 'a']); };
    CoSortedQueue queue;
    for (const Step& step : steps) {
        switch (step.how) {
            case Step::PLAIN: queue.enqueue(itemFor(step.name)); break;
            case Step::FRONT: queue.enqueueFront(itemFor(step.name)); break;
            case Step::SORTED: queue.enqueueSorted(itemFor(step.name), step.tag); break;
        }
    }
    std::string order;
    while (void* item = queue.tryDequeue()) order += *static_cast<char*>(item);
    return order;
}

TEST(CoSortedQueueTest, EntriesLeaveInTheOrderOfTheirTags) {
    const unsigned NONE = CoFifoBase::TAG_NONE;
    struct Case {
        const char* what;
        std::vector<Step> steps;
        const char* order;
    } cases[] = {
        {"smaller tags first", {sorted('a', 5), sorted('b', 7), sorted('c', 6)}, "acb"},
        {"an untagged entry is never overtaken", {sorted('a', 5), sorted('n', NONE), sorted('b', 3)}, "anb"},
        {"untagged entries keep their order", {sorted('a', NONE), sorted('b', NONE), sorted('c', 2)}, "abc"},
        {"walk to the head end: leaves first", {sorted('a', 5), sorted('b', 3)}, "ba"},
        {"an equal tag is overtaken", {sorted('a', 5), sorted('b', 5)}, "ba"},
        {"plain entries carry the greatest tag", {plain('p'), sorted('a', 9), plain('q'), sorted('b', 8)}, "bapq"},
        {"plain entries queue in order", {plain('p'), plain('q'), plain('r')}, "pqr"},
        {"a sorted entry stops behind a smaller tag", {sorted('a', 5), plain('p'), sorted('b', 6)}, "abp"},
        {"front entries leave next", {plain('p'), sorted('a', 1), front('f')}, "fap"},
    };
    for (const Case& c : cases) EXPECT_EQ(leavingOrder(c.steps), c.order) << c.what;
}

TEST(CoSortedQueueTest, GetItemCountsFromTheNewestAndDumpListsTheTags) {
    CoSortedQueue queue;
    int a = 0, b = 0, c = 0;
    queue.enqueueSorted(&a, 5);
    queue.enqueueSorted(&b, 7);
    queue.enqueue(&c);  // list from the tail end: c, b, a
    EXPECT_EQ(queue.depth(), 3);
    EXPECT_EQ(queue.getItem(0), &c);
    EXPECT_EQ(queue.getItem(1), &b);
    EXPECT_EQ(queue.getItem(2), &a);
    EXPECT_EQ(queue.getItem(3), nullptr);

    testing::DebugFilter debug;
    testing::MessageCapture capture;
    queue.dump(true);
    std::vector<std::string> expected;
    char line[128];
    std::snprintf(line, sizeof line, "Fifo %p [depth = 3]", static_cast<void*>(&queue));
    expected.push_back(line);
    std::snprintf(line, sizeof line, "\tItem 0: %p tag: -1", static_cast<void*>(&c));
    expected.push_back(line);
    std::snprintf(line, sizeof line, "\tItem 1: %p tag: 7", static_cast<void*>(&b));
    expected.push_back(line);
    std::snprintf(line, sizeof line, "\tItem 2: %p tag: 5", static_cast<void*>(&a));
    expected.push_back(line);
    EXPECT_EQ(capture.texts(), expected);
}

}  // namespace
}  // namespace Vantrel
