#include "log_target.h"

namespace quilora {

LogTarget* logWindow = nullptr;

void SendLogUrl(std::string_view line) {
    if (logWindow)
        logWindow->LogUrl(line);
}

} // namespace quilora
