#pragma once

// Base of every class whose objects own a resource and must not be duplicated.
class no_copy {
protected:
    no_copy() = default;
    ~no_copy() = default;

public:
    no_copy(const no_copy&) = delete;
    no_copy& operator=(const no_copy&) = delete;
};
