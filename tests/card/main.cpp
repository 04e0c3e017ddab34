#include "CardMounts.h"
#include "QtMessagePoster.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstring>

// The card tests mount real volumes in a mount namespace of this process's own, entered before
// Qt starts any thread. Listing the tests (the build does, to register them) mounts nothing.
int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
    if (!listing) velk::test::EnterPrivateMountNamespace();
    QCoreApplication app(argc, argv);
    velk::QtMessagePoster poster;
    velk::SetMessagePoster(&poster);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    velk::SetMessagePoster(nullptr);
    return result;
}
