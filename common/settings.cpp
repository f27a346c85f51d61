#include "common/settings.h"

namespace quilora {

namespace {

// An empty value keeps the default; trailing slashes go.
std::string ReadHost(const ProfileFile& profile, const char* key, const std::string& def) {
    std::string value = profile.ReadString(kSettingsSection, key, def);
    while (!value.empty() && value.back() == '/')
        value.pop_back();
    return value.empty() ? def : value;
}

void WriteIf(const ProfileFile& profile, const char* key, const std::optional<int>& value) {
    if (value)
        profile.WriteInteger(kSettingsSection, key, *value);
}

} // namespace

std::string ReadConnect(const ProfileFile& profile) {
    return profile.ReadString(kSettingsSection, "Connect", kDefaultConnect);
}

std::string ReadCardNo(const ProfileFile& profile) {
    return profile.ReadString(kSettingsSection, "CardNo", "");
}

std::string ReadPassword(const ProfileFile& profile) {
    return profile.ReadString(kSettingsSection, "Passwd", "");
}

PortalHosts ReadPortalHosts(const ProfileFile& profile) {
    PortalHosts hosts;
    hosts.portalUrl = ReadHost(profile, "PortalUrl", hosts.portalUrl);
    hosts.scriptUrl = ReadHost(profile, "ScriptUrl", hosts.scriptUrl);
    if (std::string charset = profile.ReadString(kSettingsSection, "PortalCharset", ""); !charset.empty())
        hosts.charset = std::move(charset);
    return hosts;
}

void WriteChoices(const ProfileFile& profile, const SavedChoices& c) {
    WriteIf(profile, "UserTypeArea", c.userTypeArea);
    if (c.userTypeCard)
        profile.WriteString(kSettingsSection, "UserTypeCard", *c.userTypeCard);
    WriteIf(profile, "AreaID", c.areaId);
    WriteIf(profile, "HospitalID", c.hospitalId);
    WriteIf(profile, "ClassID", c.classId);
    WriteIf(profile, "DoctorID", c.doctorId);
    profile.WriteString(kSettingsSection, "Passwd", c.password);
}

RestoredChoices ReadChoices(const ProfileFile& profile) {
    RestoredChoices c;
    c.userTypeArea = profile.ReadInteger(kSettingsSection, "UserTypeArea", 0);
    c.userTypeCard = profile.ReadString(kSettingsSection, "UserTypeCard", "");
    c.areaId = profile.ReadInteger(kSettingsSection, "AreaID", 0);
    c.hospitalId = profile.ReadInteger(kSettingsSection, "HospitalID", 0);
    c.classId = profile.ReadInteger(kSettingsSection, "ClassID", 0);
    c.doctorId = profile.ReadInteger(kSettingsSection, "DoctorID", 0);
    c.password = ReadPassword(profile);
    return c;
}

} // namespace quilora
