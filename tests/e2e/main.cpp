#include "Journey.h"

#include <gtest/gtest.h>

#include <cstring>

// The card journey mounts a real image: the mount namespace of this process is entered before
// any thread exists. Listing the tests (the build does it to register them) enters nothing.
int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    if (!listing) velk::test::EnterPrivateMountNamespace();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
