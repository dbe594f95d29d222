#include "osal/CoUUID.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace Vantrel {
namespace {

TEST(CoUUIDTest, Validate) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"1b4e28ba-2fa1-11d2-883f-0016d3cca427", true},
        {"1B4E28BA-2FA1-11D2-883F-0016D3CCA427", true},
        {"00000000-0000-0000-0000-000000000000", true},
        {"", false},
        {"1b4e28ba2fa111d2883f0016d3cca427", false},        // no hyphens
        {"{1b4e28ba-2fa1-11d2-883f-0016d3cca427}", false},  // braces
        {" 1b4e28ba-2fa1-11d2-883f-0016d3cca427", false},   // white space around it
        {"1b4e28ba-2fa1-11d2-883f-0016d3cca427 ", false},
        {"1b4e28ba-2fa1-11d2-883f-0016d3cca4270", false},   // one digit too many
        {"1b4e28ba-2fa1-11d2-883f-0016d3cca42", false},     // one too few
        {"1b4e28b-a2fa1-11d2-883f-0016d3cca427", false},    // hyphen in the wrong place
        {"1b4e28ba-2fa1-11d2-883f_0016d3cca427", false},    // wrong separator
        {"1b4e28ba-2fa1-11d2-883f-0016d3cca42g", false},    // not a hex digit
        {"1b4e28ba-2fa1-11d2-883f-0016d3cca42+", false},
        {std::string("1b4e28ba-2fa1-11d2-883f-0016d3cca42\0", 36), false},
        {"not a uuid", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.valid, CoUUID::validate(c.text));
    }
}

TEST(CoUUIDTest, CreatedIdentifiersAreValidLowerCaseAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string uuid = CoUUID::create();
        EXPECT_TRUE(CoUUID::validate(uuid)) << uuid;
        EXPECT_EQ(std::string::npos, uuid.find_first_of("ABCDEF")) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(100u, seen.size());
}

}  // namespace
}  // namespace Vantrel
