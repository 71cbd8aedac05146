#include "upnp/fault.h"

#include <string>

#include <gtest/gtest.h>

namespace {

// Native text is UTF-8 here; the Windows build shows the same text in its
// code page.
TEST(UpnpFault, AGatewaysOwnDescriptionIsMadePrintableAndBounded) {
    const cFailure controls = UpnpFailure(899, "bad\x1b[2Jtext\r\n");
    EXPECT_EQ(controls.message, "bad\xEF\xBF\xBD[2Jtext");
    const cFailure huge = UpnpFailure(899, std::string(10000, 'x'));
    EXPECT_EQ(huge.message, std::string(kMaxFaultDescriptionBytes, 'x') + "\xE2\x80\xA6");
    const cFailure invalid = UpnpFailure(899, "caf\xE9");
    EXPECT_EQ(invalid.message, "caf\xEF\xBF\xBD");
}

} // namespace
