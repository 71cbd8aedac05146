#include "mapping/failure.h"

std::string JapaneseReasonSuffix(const cFailure& failure) {
    if (!failure.IsSet())
        return "";
    const std::string code = failure.code ? std::to_string(failure.code) + " " : "";
    return " (" + code + failure.messageJa + ")";
}
