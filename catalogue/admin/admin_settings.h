#pragma once
// What quilora-admin reads from Config.ini: the catalogue's connection string
// and the portal's hosts, with the window's defaults.
#include <string>

#include "net/portal_address.h"

namespace quilora::admin {

struct AdminSettings {
    std::string connect;
    PortalHosts hosts;
};

// Throws QuiloraError when the file does not exist: a tool that crawls into a
// default server nobody named would be a surprise.
AdminSettings ReadAdminSettings(const std::string& configPath);

} // namespace quilora::admin
