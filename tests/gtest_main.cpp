// Test entry point. `exe --child=NAME ARGS...` runs a registered child mode
// instead of the tests, so that a test can run part of itself in a process of
// its own (under another executable name, another Windows version, ...). A
// copy started by RunCasesInCopy reports what it ran.
#include "tests/support/child_process.h"
#include "tests/support/test_copy.h"

#include <gtest/gtest.h>

#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && std::strncmp(argv[1], "--child=", 8) == 0) {
        return RunChildMode(argv[1] + 8, argc - 2, argv + 2);
    }
    TakeCopyReportArgument(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    InstallCopyReport();
    return RUN_ALL_TESTS();
}
