// Test entry point. A copy of the executable started by RunCasesInCopy (under
// another name, with another Windows version) reports what it ran.
#include "tests/support/test_copy.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    TakeCopyReportArgument(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    InstallCopyReport();
    return RUN_ALL_TESTS();
}
