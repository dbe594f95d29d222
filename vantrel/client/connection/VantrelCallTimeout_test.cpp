#include "vantrel/client/connection/VantrelCallTimeout.h"

#include <gtest/gtest.h>

#include "osal/CoEnvSettings.h"
#include "vantrel/VantrelClientAPI.h"

namespace {

TEST(VantrelCallTimeout, VariableIsAWholeNumberOfMilliseconds) {
    const struct {
        const char* value;
        uint32_t ceiling;
        bool valid;
    } cases[] = {
        {nullptr, 100000000, true}, {"", 100000000, true},     {"250", 250, true},
        {"1", 1, true},             {"4294967295", 4294967295u, true},
        {"0", 100000000, false},    {"4294967296", 100000000, false},
        {"-5", 100000000, false},   {"+5", 100000000, false}, {" 5", 100000000, false},
        {"lots", 100000000, false}, {"12ms", 100000000, false},
    };
    for (const auto& c : cases) {
        bool valid = !c.valid;
        EXPECT_EQ(c.ceiling, VantrelCallTimeout::parse(c.value, valid)) << (c.value ? c.value : "unset");
        EXPECT_EQ(c.valid, valid) << (c.value ? c.value : "unset");
    }
}

// The application's choice wins over the variable, which wins over the default; a call's own
// shorter limit is kept.
TEST(VantrelCallTimeout, ApplicationThenEnvironmentThenDefault) {
    Vantrel::CoEnvStringSetting* variable =
        Vantrel::CoEnvStringSetting::find("VANTREL_CALL_TIMEOUT_MS");
    ASSERT_NE(nullptr, variable) << "the variable is read when the library is loaded";
    const std::string saved = variable->value();

    variable->set("");
    EXPECT_EQ(100000000u, VantrelClientGetCallTimeout());
    variable->set("1500");
    EXPECT_EQ(1500u, VantrelClientGetCallTimeout());
    EXPECT_EQ(1500u, VantrelCallTimeout::bound(100000000));
    EXPECT_EQ(20u, VantrelCallTimeout::bound(20));
    VantrelClientSetCallTimeout(700);
    EXPECT_EQ(700u, VantrelClientGetCallTimeout());
    VantrelClientSetCallTimeout(0);
    EXPECT_EQ(1500u, VantrelClientGetCallTimeout());
    variable->set("never");  // ignored, with a warning
    EXPECT_EQ(100000000u, VantrelClientGetCallTimeout());

    variable->set(saved);
}

}  // namespace
