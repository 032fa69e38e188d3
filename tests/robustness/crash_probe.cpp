// Test programs that crash on purpose (CrashProbe.Crashes), end with status
// 0 in the middle of a test (CrashProbe.EndsEarly, as a crashed process
// sometimes does when Wine's debugger ends it) or return (CrashProbe.Returns):
// the runner must report the first two as failed every time.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

int* volatile nowhere = nullptr;

TEST(CrashProbe, Returns) { EXPECT_EQ(nowhere, nullptr); }

TEST(CrashProbe, Crashes) { *nowhere = 1; }

TEST(CrashProbe, EndsEarly) { ExitProcess(0); }

}  // namespace
