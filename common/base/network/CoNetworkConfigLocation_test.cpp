#include "network/CoNetworkConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace Vantrel {
namespace {

#ifdef _WIN32  // Linux reads CFG_FILE_NAME itself (CoNetworkConfig_test.cpp)
// A Windows process keeps its machine-wide settings under ProgramData, not under a Unix path
// that would land on whatever drive is current.
TEST(CoNetworkConfigLocation, WindowsReadsTheFileUnderProgramData) {
    const char* programData = std::getenv("ProgramData");
    ASSERT_NE(nullptr, programData);
    EXPECT_EQ(std::string(programData) + "\\maltrove\\cfg\\network.cfg",
              coDefaultNetworkConfigFile());
}
#endif

}  // namespace
}  // namespace Vantrel
