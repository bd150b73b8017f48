#include <gtest/gtest.h>

#include "support/test_support.h"

// The leak check at exit scans every thread; the dynamic TLS that the GL
// driver's libraries leave behind can hold stale bounds, and reading them
// crashes the check itself. The tests' own memory is on the heap and in
// static TLS, which stay scanned.
extern "C" const char* __lsan_default_options() { return "intercept_tls_get_addr=0"; }

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    quild_test::IsolateHome();
    return RUN_ALL_TESTS();
}
