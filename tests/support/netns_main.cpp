#include <cstdio>

#include <gtest/gtest.h>

#include "private_netns.h"

int main(int argc, char** argv) {
    std::string why;
    if (!InPrivateTestNetns(why)) {
        std::printf("SKIP: %s; run this test through tests/in-private-netns\n", why.c_str());
        return 77;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
