#pragma once

// Guards for tests that send packets: they may run only inside the private
// network namespace made by tests/in-private-netns, never in the machine's own.
//
// Link wendrel_test_netns_main instead of GTest::gtest_main: its main() runs the
// tests only inside such a namespace, else prints "SKIP: …" and exits 77, which
// ctest reports as skipped.

#include <string>

// True when the wrapper's marker is set and the only IPv4 interfaces are
// loopback and the test interface.
bool InPrivateTestNetns(std::string& why);
