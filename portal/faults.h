#pragma once
// Seeded fault injection: the fault of a request depends only on the seed and
// the request's arrival number, so a client that sends its requests one after
// another meets the same faults on every run.
#include <cstdint>
#include <string_view>

namespace quilora::portal {

struct FaultOptions {
    int latencyMs = 0;        // added to every answer
    double emptyBodyRate = 0; // 200 with an empty body
    double errorRate = 0;     // 500 with an error page
    double dropRate = 0;      // connection closed, nothing written
    double stallRate = 0;     // no answer for stallMs, then the normal answer
    int stallMs = 30000;
};

// Busy is never drawn: the number list answers it after a slot's release.
enum class Fault { None, Drop, Stall, Error, EmptyBody, Busy };

std::string_view FaultName(Fault fault);

class FaultPlan {
public:
    FaultPlan(std::uint64_t seed, const FaultOptions& options);
    // The fault of the request that arrived as number ordinal (0-based).
    Fault Decide(std::uint64_t ordinal) const;

private:
    std::uint64_t seed_;
    FaultOptions options_;
};

} // namespace quilora::portal
