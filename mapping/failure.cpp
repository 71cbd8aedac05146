#include "mapping/failure.h"

std::string JapaneseReasonSuffix(const cFailure& failure) {
    if (!failure.IsSet())
        return "";
    const std::string code = failure.code ? std::to_string(failure.code) + " " : "";
    return " (" + code + failure.messageJa + ")";
}

bool FindKnownFailure(const cKnownFailure* table, std::size_t count, int code, cFailure& out) {
    for (std::size_t i = 0; i < count; ++i) {
        if (table[i].code == code) {
            out = cFailure{code, table[i].name, table[i].message, table[i].messageJa};
            return true;
        }
    }
    return false;
}
