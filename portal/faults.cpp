#include "portal/faults.h"

#include "portal/seeded.h"

namespace quilora::portal {

namespace {
constexpr std::uint64_t kFaultSalt = 0xFA017;
}

std::string_view FaultName(Fault fault) {
    switch (fault) {
    case Fault::Drop:
        return "drop";
    case Fault::Stall:
        return "stall";
    case Fault::Error:
        return "error";
    case Fault::EmptyBody:
        return "empty";
    case Fault::Busy:
        return "busy";
    case Fault::None:
        break;
    }
    return "none";
}

FaultPlan::FaultPlan(std::uint64_t seed, const FaultOptions& options) : seed_(seed), options_(options) {}

Fault FaultPlan::Decide(std::uint64_t ordinal) const {
    // One draw split into bands, so each rate is exactly the share of its fault.
    const double u = SeededStream(Mix(seed_, kFaultSalt, ordinal)).Unit();
    double edge = options_.dropRate;
    if (u < edge)
        return Fault::Drop;
    if (u < (edge += options_.stallRate))
        return Fault::Stall;
    if (u < (edge += options_.errorRate))
        return Fault::Error;
    if (u < (edge += options_.emptyBodyRate))
        return Fault::EmptyBody;
    return Fault::None;
}

} // namespace quilora::portal
