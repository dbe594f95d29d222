#include "network/CoDefaultRoute.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace Vantrel {
namespace {

// Route flags as the kernel prints them.
const unsigned long long ROUTE_UP = 0x0001;
const unsigned long long ROUTE_REJECT = 0x0200;

struct Route {
    std::string device;
    unsigned long long metric;
};

std::vector<std::string> fieldsOf(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string field; in >> field;) fields.push_back(field);
    return fields;
}

// The whole text as one number in `base`; false for anything else, overflow included.
bool parseNumber(const std::string& text, int base, unsigned long long& out) {
    if (text.empty()) return false;
    for (char c : text) {
        const bool digit = base == 16 ? std::isxdigit(static_cast<unsigned char>(c))
                                      : std::isdigit(static_cast<unsigned char>(c));
        if (!digit) return false;
    }
    errno = 0;
    out = std::strtoull(text.c_str(), nullptr, base);
    return errno == 0;
}

bool isZero(const std::string& text, int base) {
    unsigned long long value = 0;
    return parseNumber(text, base, value) && value == 0;
}

bool isUsableDefault(unsigned long long flags) {
    return (flags & ROUTE_UP) != 0 && (flags & ROUTE_REJECT) == 0;
}

// Keeps the route with the lowest metric, the first one on a tie.
void keepBest(bool& found, Route& best, const Route& candidate) {
    if (!found || candidate.metric < best.metric) best = candidate;
    found = true;
}

template <typename LineToDefaultRoute>
std::string bestDefaultRoute(const std::string& routeTable, LineToDefaultRoute toRoute) {
    std::istringstream lines(routeTable);
    bool found = false;
    Route best;
    Route candidate;
    for (std::string line; std::getline(lines, line);)
        if (toRoute(fieldsOf(line), candidate)) keepBest(found, best, candidate);
    return found ? best.device : std::string();
}

bool defaultRouteV4(const std::vector<std::string>& f, Route& route) {
    enum { DEVICE = 0, DESTINATION = 1, FLAGS = 3, METRIC = 6, MASK = 7, MIN_FIELDS = 8 };
    unsigned long long flags = 0;
    if (f.size() < MIN_FIELDS || !isZero(f[DESTINATION], 16) || !isZero(f[MASK], 16) ||
        !parseNumber(f[FLAGS], 16, flags) || !isUsableDefault(flags) ||
        !parseNumber(f[METRIC], 10, route.metric))
        return false;
    route.device = f[DEVICE];
    return true;
}

bool defaultRouteV6(const std::vector<std::string>& f, Route& route) {
    enum { DESTINATION = 0, PREFIX = 1, METRIC = 5, FLAGS = 8, DEVICE = 9, FIELDS = 10 };
    unsigned long long flags = 0;
    if (f.size() != FIELDS || f[DESTINATION].size() != 32 || !isZero(f[DESTINATION], 16) ||
        !isZero(f[PREFIX], 16) || !parseNumber(f[FLAGS], 16, flags) ||
        !isUsableDefault(flags) || !parseNumber(f[METRIC], 16, route.metric))
        return false;
    route.device = f[DEVICE];
    return true;
}

}  // namespace

std::string coDefaultRouteInterfaceV4(const std::string& routeTable) {
    return bestDefaultRoute(routeTable, defaultRouteV4);
}

std::string coDefaultRouteInterfaceV6(const std::string& routeTable) {
    return bestDefaultRoute(routeTable, defaultRouteV6);
}

}  // namespace Vantrel
