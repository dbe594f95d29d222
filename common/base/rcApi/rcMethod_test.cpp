#include "rcApi/rcMethod.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "vantrel/CoException.h"
#include "rcApi/rcServerContext.h"

namespace Vantrel {
namespace {

// What the function of the method under test does, chosen per case.
enum class Outcome { RETURN_FLOAT, FAIL_WITH_LAST_ERROR, THROW_CO_EXCEPTION, THROW_STD,
                     THROW_TEXT, THROW_NULL_TEXT, THROW_INT, THROW_OTHER };
Outcome outcome;

struct Thrown {};

bool run(void*, const rcMethod& method, const rcParam::Array& params, rcParam& result) {
    switch (outcome) {
        case Outcome::RETURN_FLOAT:
            result.setFloatValue(params[0]->floatValue() * 2);
            return true;
        case Outcome::FAIL_WITH_LAST_ERROR: method.setLastError("no such clip"); return false;
        case Outcome::THROW_CO_EXCEPTION: throw CoException("disk full", __LINE__, __FILE__);
        case Outcome::THROW_STD: throw std::runtime_error("bad frame");
        case Outcome::THROW_TEXT: throw "text thrown";
        case Outcome::THROW_NULL_TEXT: throw static_cast<const char*>(nullptr);
        case Outcome::THROW_INT: throw -17;
        case Outcome::THROW_OTHER: throw Thrown();
    }
    return false;
}

TEST(Method, TurnsResultsAndFailuresIntoText) {
    rcServerContext context(-1);
    const rcParam::Info params[] = {{&rcParamFloat::TYPE, "x"}, {nullptr, nullptr}};
    const rcMethod method(context, "Scale", run, rcParamFloat::TYPE, params);
    const struct {
        Outcome outcome;
        bool ok;
        const char* out;
    } cases[] = {
        {Outcome::RETURN_FLOAT, true, "1.500000"},
        {Outcome::FAIL_WITH_LAST_ERROR, false, "no such clip"},
        {Outcome::THROW_CO_EXCEPTION, false, "disk full"},
        {Outcome::THROW_STD, false, "bad frame"},
        {Outcome::THROW_TEXT, false, "text thrown"},
        {Outcome::THROW_NULL_TEXT, false, "Unknown error"},
        {Outcome::THROW_INT, false, "-17"},
        {Outcome::THROW_OTHER, false, "Unknown error"},
    };
    for (const auto& c : cases) {
        outcome = c.outcome;
        std::string out;
        EXPECT_EQ(c.ok, method.callMethod(nullptr, "0.75", out)) << c.out;
        EXPECT_EQ(c.out, out);
    }
    // The last error is not cleared by later calls: a plain failure repeats it.
    EXPECT_EQ("no such clip", method.lastError());
}

TEST(Method, KeepsItsFieldsAndCopies) {
    rcServerContext context(-1);
    const rcMethod method(context, "Later", run, rcParamVoid::TYPE, nullptr, rcMethod::DELAYED);
    const rcMethod copy(method);
    EXPECT_STREQ("Later", copy.getName());
    EXPECT_EQ(&rcParamVoid::TYPE, &copy.getReturnType());
    EXPECT_EQ(nullptr, copy.getParamList()[0].type);
    EXPECT_EQ(&context, &copy.getServerContext());
    EXPECT_TRUE(copy.isDelayed());
    EXPECT_EQ(run, copy.getMethod());
}

}  // namespace
}  // namespace Vantrel
