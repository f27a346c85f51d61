#pragma once
// What start-up reads from Config.ini besides the saved choices.
#include <string>

#include "common/profile.h"
#include "scan/portal_address.h"

namespace quilora {

inline constexpr char kSettingsSection[] = "Data";
inline constexpr char kSettingsFileName[] = "Config.ini";
inline constexpr char kDefaultConnect[] =
    "Provider=SQLOLEDB.1;Password=Q;Persist Security Info=True;User ID=sa;"
    "Initial Catalog=QUILORA;Data Source=localhost\\QUILORA";

// The installation's card number ("CardNo"); empty when absent.
std::string ReadCardNo(const ProfileFile& profile);
// "PortalUrl", "ScriptUrl" and "PortalCharset"; a missing or empty value keeps
// the default, a trailing slash is dropped.
PortalHosts ReadPortalHosts(const ProfileFile& profile);

} // namespace quilora
