// The test programs start the way the program does: the process-wide settings first (descriptor
// limit, SIGPIPE, allocator), so the servers they run hold as many connections as the program's.
#include <gtest/gtest.h>

#include "platform/base/process_tuning.hpp"

int main(int argc, char** argv)
{
    platform::TuneProcess();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
