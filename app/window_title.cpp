#include "app/port_window_logic.h"

#include "support/text.h"

namespace {

constexpr const char* kTitleFormat = "%s Version %s(%s)";

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

} // namespace

std::string MakeWindowTitle(const char* productName, const char* productVersion,
                            const char* fileVersion) {
    return FormatString(kTitleFormat, OrEmpty(productName), OrEmpty(productVersion),
                        OrEmpty(fileVersion));
}
