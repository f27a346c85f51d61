#include "common/settings.h"

#include <algorithm>

#include "common/errors.h"

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

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

template <typename Keep>
std::vector<std::string> Split(std::string_view text, std::string_view separators, Keep keep) {
    std::vector<std::string> parts;
    while (true) {
        const auto at = text.find_first_of(separators);
        const std::string_view part = Trim(text.substr(0, at));
        if (!part.empty())
            keep(parts, part);
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

bool NotifySettings::Wants(std::string_view event) const {
    return std::find(notifyOn.begin(), notifyOn.end(), event) != notifyOn.end();
}

NotifySettings DefaultNotifySettings() {
    NotifySettings n;
    for (const std::string_view event : kNotifyEvents)
        if (event != "stopped")
            n.notifyOn.emplace_back(event);
    return n;
}

std::vector<std::string> SplitAddresses(std::string_view text) {
    return Split(text, ";,",
                 [](std::vector<std::string>& parts, std::string_view part) { parts.emplace_back(part); });
}

std::string JoinAddresses(const std::vector<std::string>& addresses) {
    std::string out;
    for (const std::string& a : addresses)
        out += (out.empty() ? "" : ";") + a;
    return out;
}

std::vector<std::string> ParseNotifyOn(std::string_view text) {
    std::vector<std::string> named =
        Split(text, ",; ",
              [](std::vector<std::string>& parts, std::string_view part) { parts.push_back(Lower(part)); });
    std::vector<std::string> events;
    for (const std::string_view known : kNotifyEvents)
        if (std::find(named.begin(), named.end(), known) != named.end())
            events.emplace_back(known);
    return events;
}

std::string JoinNotifyOn(const std::vector<std::string>& events) {
    std::string out;
    for (const std::string_view known : kNotifyEvents)
        if (std::find(events.begin(), events.end(), known) != events.end())
            out += (out.empty() ? "" : ",") + std::string(known);
    return out;
}

NotifySettings ReadNotifySettings(const ProfileFile& profile) {
    NotifySettings n = DefaultNotifySettings();
    const auto read = [&profile](const char* key) {
        return std::string(Trim(profile.ReadString(kNotifySection, key, "")));
    };
    n.smtpUrl = read("SmtpUrl");
    n.smtpUser = read("SmtpUser");
    // A password may begin or end with a space: kept as written.
    n.smtpPassword = profile.ReadString(kNotifySection, "SmtpPassword", "");
    n.mailFrom = read("MailFrom");
    n.mailTo = SplitAddresses(read("MailTo"));
    n.webhookUrl = read("WebhookUrl");
    n.webhookBody = read("WebhookBody");
    // An absent key keeps the default; a present, empty one switches every event off.
    constexpr char kAbsent[] = "\x01";
    if (const std::string on = profile.ReadString(kNotifySection, "NotifyOn", kAbsent); on != kAbsent)
        n.notifyOn = ParseNotifyOn(on);
    return n;
}

void WriteNotifySettings(const ProfileFile& profile, const NotifySettings& n) {
    const std::pair<const char*, std::string> values[] = {
        {"SmtpUrl", n.smtpUrl},
        {"SmtpUser", n.smtpUser},
        {"SmtpPassword", n.smtpPassword},
        {"MailFrom", n.mailFrom},
        {"MailTo", JoinAddresses(n.mailTo)},
        {"WebhookUrl", n.webhookUrl},
        {"WebhookBody", n.webhookBody},
        {"NotifyOn", JoinNotifyOn(n.notifyOn)},
    };
    for (const auto& [key, value] : values)
        if (HasLineBreak(value))
            throw QuiloraError("Unable to write to " + profile.Path());
    for (const auto& [key, value] : values)
        profile.WriteString(kNotifySection, key, value);
}

} // namespace quilora
