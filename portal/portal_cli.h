#pragma once
// The command line of quilora-portal.
#include <chrono>
#include <optional>
#include <ostream>
#include <string_view>

#include "portal/portal_options.h"

namespace quilora::portal {

struct CliResult {
    PortalOptions options;
    std::optional<int> exitCode; // set when the program should end now (help, bad option)
};

CliResult ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// "HH:MM", "HH:MM:SS" (now's day, local time) or "+SECONDS" (from now); now is
// the portal clock's, and so is the result.
std::optional<std::chrono::system_clock::time_point>
ParseReleaseTime(std::string_view text, std::chrono::system_clock::time_point now);

} // namespace quilora::portal
