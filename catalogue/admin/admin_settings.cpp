#include "catalogue/admin/admin_settings.h"

#include <filesystem>

#include "app/settings.h" // the section name and defaults only; nothing of the window is linked
#include "common/errors.h"
#include "common/profile.h"

namespace quilora::admin {
namespace {

// As the window reads them: an empty value keeps the default, trailing slashes go.
std::string ReadHost(const ProfileFile& profile, const char* key, const std::string& def) {
    std::string value = profile.ReadString(kSettingsSection, key, def);
    while (!value.empty() && value.back() == '/')
        value.pop_back();
    return value.empty() ? def : value;
}

} // namespace

AdminSettings ReadAdminSettings(const std::string& configPath) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(configPath, ec))
        throw QuiloraError("找不到配置文件 " + configPath);
    const ProfileFile profile(configPath);
    AdminSettings s;
    s.connect = profile.ReadString(kSettingsSection, "Connect", kDefaultConnect);
    s.hosts.portalUrl = ReadHost(profile, "PortalUrl", s.hosts.portalUrl);
    s.hosts.scriptUrl = ReadHost(profile, "ScriptUrl", s.hosts.scriptUrl);
    if (std::string charset = profile.ReadString(kSettingsSection, "PortalCharset", ""); !charset.empty())
        s.hosts.charset = std::move(charset);
    return s;
}

} // namespace quilora::admin
