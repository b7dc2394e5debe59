// Skips of the tests that need root (namespaces, files as another user, mounts). CI runs the
// tests as root with CI=true: there such a skip means a broken harness, and it fails the test.
// Elsewhere the test skips with its reason:
//     if (!lan.Ok()) QUORVEL_SKIP_ROOT_ONLY() << "no namespace LAN: " << lan.Error();
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace quorvel_test {

inline bool InCi() {
    const char* ci = std::getenv("CI");
    if (ci == nullptr) return false;
    std::string_view value(ci);
    return !value.empty() && value != "false" && value != "0";
}

}  // namespace quorvel_test

#define QUORVEL_SKIP_ROOT_ONLY()                                                               \
    return GTEST_MESSAGE_(quorvel_test::InCi() ? "a root-only test may not skip in CI: " : "", \
                          quorvel_test::InCi() ? ::testing::TestPartResult::kFatalFailure      \
                                               : ::testing::TestPartResult::kSkip)
