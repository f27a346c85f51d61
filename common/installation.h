#pragma once
// What every program of the installation reads from Config.ini besides the
// window's saved choices: the catalogue's connection string and the card number.
#include <string>

#include "common/profile.h"

namespace quilora {

inline constexpr char kSettingsSection[] = "Data";
inline constexpr char kSettingsFileName[] = "Config.ini";
inline constexpr char kDefaultConnect[] =
    "Provider=SQLOLEDB.1;Password=Q;Persist Security Info=True;User ID=sa;"
    "Initial Catalog=QUILORA;Data Source=localhost\\QUILORA";

// "Connect", the default connection string when absent.
inline std::string ReadConnect(const ProfileFile& profile) {
    return profile.ReadString(kSettingsSection, "Connect", kDefaultConnect);
}

// The installation's card number ("CardNo"); empty when absent. Never written.
inline std::string ReadCardNo(const ProfileFile& profile) {
    return profile.ReadString(kSettingsSection, "CardNo", "");
}

} // namespace quilora
