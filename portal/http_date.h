#pragma once
// The Date header of the portal's answers.
#include <chrono>
#include <string>

namespace quilora::portal {

// IMF-fixdate, e.g. "Tue, 15 Nov 1994 08:12:31 GMT"; the fraction of a second is dropped.
std::string HttpDate(std::chrono::system_clock::time_point when);

} // namespace quilora::portal
