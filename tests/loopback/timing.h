#pragma once

#include <chrono>

// Milliseconds since construction; for "does not hang" bounds, never for speed.
class cStopwatch {
  public:
    long long ElapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    }

  private:
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};
