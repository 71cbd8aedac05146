// RSS of a keeper over 100 000 check cycles: ten mappings, a gateway in
// memory that loses one mapping every 97 checks, a clock that jumps from one
// wake-up to the next. Prints the resident size along the way.
//   bench/keep (builds and runs this)
#include <cstdio>
#include <map>
#include <string>

#include "keep/keeper.h"

namespace {

class cMemoryGateway : public cMappingGateway {
  public:
    bool GetExternalAddress(std::string& out) override {
        out = "203.0.113.1";
        return true;
    }
    bool Add(const cMapping& wanted, cAddResult& result) override {
        table[wanted.protocol + std::to_string(wanted.externalPort)] = wanted;
        result = cAddResult();
        result.kept = wanted;
        return true;
    }
    bool Find(const std::string& protocol, int port, bool& found, cMapping& out) override {
        const auto there = table.find(protocol + std::to_string(port));
        found = there != table.end() && ++finds % 97 != 0;
        if (found)
            out = there->second;
        return true;
    }
    bool Delete(const std::string& protocol, int port) override {
        table.erase(protocol + std::to_string(port));
        return true;
    }
    const cFailure& LastFailure() const override { return failure; }

  private:
    std::map<std::string, cMapping> table;
    long finds = 0;
    cFailure failure;
};

long ResidentKiB() {
    long pages = 0, resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * 4;
}

} // namespace

int main() {
    cMemoryGateway gateway;
    cKeeper::cSettings settings;
    settings.leaseSeconds = 600;
    settings.checkSeconds = 30;
    cKeeper keeper(gateway, settings);
    cKeepEvent event;
    event.kind = cKeepEvent::kReload;
    for (int i = 0; i < 10; ++i) {
        cKeepEntry entry;
        entry.mapping.protocol = i % 2 ? "UDP" : "TCP";
        entry.mapping.externalPort = 20000 + i;
        entry.mapping.internalPort = 20000 + i;
        entry.mapping.description = "bench mapping " + std::to_string(i);
        entry.followsHost = true;
        event.entries.push_back(entry);
    }
    keeper.Handle(event, 0);
    event = cKeepEvent();
    event.kind = cKeepEvent::kDiscovered;
    event.address = "192.168.1.20";
    cKeepStep step = keeper.Handle(event, 0);
    const cKeepEvent tick;
    const long cycles = 100000;
    long notices = 0;
    std::printf("RSS before the first cycle: %ld KiB\n", ResidentKiB());
    for (long cycle = 1; cycle <= cycles; ++cycle) {
        step = keeper.Handle(tick, step.wakeAt);
        notices += static_cast<long>(step.notices.size());
        if (cycle == 1000 || cycle % 25000 == 0)
            std::printf("RSS after %6ld cycles: %ld KiB\n", cycle, ResidentKiB());
    }
    std::printf("check cycles %ld, notices %ld, simulated %.1f days\n", cycles, notices,
                static_cast<double>(step.wakeAt) / 86400000.0);
    return 0;
}
