// A first look at the base layer: post messages at several levels and catch a CoException.
#include <cstdio>

#include "vantrel/CoException.h"
#include "vantrel/CoMsg.h"

using namespace Vantrel;

int main() {
    CoMsg::setFilterLevel(CoMsg::NOTICE_LEVEL);
    CO_MSG_USER("Vantrel base layer example");
    CO_MSG_NOTICE("notice messages pass the default filter");
    CO_MSG_DEBUG("debug messages do not");
    try {
        CoException(__LINE__, __FILE__).fire("Out of memory.", "Unable to allocate %d bytes.", 5);
    } catch (const CoException& e) {
        std::printf("caught: %s (detail: %s)\n", e.what(), e.expertData());
    }
    return 0;
}
