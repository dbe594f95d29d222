#include "osal/CoProcess.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace Vantrel {
namespace {

TEST(CoProcessTest, NameIsTheProgramsFileName) {
    std::string name;
    ASSERT_TRUE(CoProcess::getName(name));
    // The system keeps at most 15 characters of it.
    EXPECT_EQ(std::string(program_invocation_short_name).substr(0, 15), name);
}

TEST(CoProcessTest, IdIsTheCallersEvenAfterFork) {
    const int parentId = CoProcess::getId();
    EXPECT_EQ(getpid(), parentId);

    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) _exit(CoProcess::getId() == getpid() && CoProcess::getId() != parentId ? 0 : 1);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

}  // namespace
}  // namespace Vantrel
