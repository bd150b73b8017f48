#include <gtest/gtest.h>

#include "support/test_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    quild_test::IsolateHome();
    return RUN_ALL_TESTS();
}
