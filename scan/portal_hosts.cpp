#include "common/installation.h"
#include "scan/portal_address.h"

namespace quilora {
namespace {

// An empty value keeps the default; trailing slashes go.
std::string ReadHost(const ProfileFile& profile, const char* key, const std::string& def) {
    std::string value = profile.ReadString(kSettingsSection, key, def);
    while (!value.empty() && value.back() == '/')
        value.pop_back();
    return value.empty() ? def : value;
}

} // namespace

PortalHosts ReadPortalHosts(const ProfileFile& profile) {
    PortalHosts hosts;
    hosts.portalUrl = ReadHost(profile, "PortalUrl", hosts.portalUrl);
    hosts.scriptUrl = ReadHost(profile, "ScriptUrl", hosts.scriptUrl);
    if (std::string charset = profile.ReadString(kSettingsSection, "PortalCharset", ""); !charset.empty())
        hosts.charset = std::move(charset);
    return hosts;
}

} // namespace quilora
