#include "catalogue/admin/admin_settings.h"

#include <filesystem>

#include "common/errors.h"
#include "common/platform.h"
#include "common/profile.h"
#include "common/settings.h"

namespace quilora::admin {

AdminSettings ReadAdminSettings(const std::string& configPath) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(platform::PathFromUtf8(configPath), ec))
        throw QuiloraError("找不到配置文件 " + configPath);
    const ProfileFile profile(configPath);
    AdminSettings s;
    s.connect = ReadConnect(profile);
    s.hosts = ReadPortalHosts(profile);
    return s;
}

} // namespace quilora::admin
