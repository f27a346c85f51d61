#pragma once
// Config.ini's keys in one place: what the window, quilora-admin and
// quilora-book read from it, and the choices the window writes back.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/profile.h"

namespace quilora {

inline constexpr char kSettingsSection[] = "Data";
inline constexpr char kSettingsFileName[] = "Config.ini";
inline constexpr char kDefaultConnect[] =
    "Provider=SQLOLEDB.1;Password=Q;Persist Security Info=True;User ID=sa;"
    "Initial Catalog=QUILORA;Data Source=localhost\\QUILORA";

// The portal's main host and script host, and the charset of query values.
struct PortalHosts {
    std::string portalUrl = "http://www.quilora.com";      // main host, no trailing slash
    std::string scriptUrl = "http://www.quilora.com:8010"; // script host
    std::string charset = "GBK";                           // charset of query values
    std::string HomeAddress() const { return portalUrl + "/"; }
};

// "Connect", the default connection string when absent.
std::string ReadConnect(const ProfileFile& profile);
// The installation's card number ("CardNo"); empty when absent. Never written.
std::string ReadCardNo(const ProfileFile& profile);
// The password of the last sign-in ("Passwd"); empty when absent.
std::string ReadPassword(const ProfileFile& profile);
// "PortalUrl", "ScriptUrl" and "PortalCharset"; a missing or empty value keeps
// the default, a trailing slash is dropped. Never written.
PortalHosts ReadPortalHosts(const ProfileFile& profile);

// The window's choices as saved: a list without a selection leaves its key as
// an earlier run wrote it; the password is always written.
struct SavedChoices {
    std::optional<int> userTypeArea;
    std::optional<std::string> userTypeCard;
    std::optional<int> areaId;
    std::optional<int> hospitalId;
    std::optional<int> classId;
    std::optional<int> doctorId;
    std::string password;
};
// Writes the keys in their order and stops at the first refused one
// (QuiloraError "Unable to write to <path>").
void WriteChoices(const ProfileFile& profile, const SavedChoices& choices);

// The choices as start-up restores them: integers by the profile rules, 0 or
// empty text when absent.
struct RestoredChoices {
    int userTypeArea = 0;
    std::string userTypeCard;
    int areaId = 0;
    int hospitalId = 0;
    int classId = 0;
    int doctorId = 0;
    std::string password;
};
RestoredChoices ReadChoices(const ProfileFile& profile);

// ---- [Notify]: word of a booking's outcome by mail and webhook ----
inline constexpr char kNotifySection[] = "Notify";
// The events a notification can be sent for, in the order NotifyOn is written.
inline constexpr std::string_view kNotifyEvents[] = {"booked",  "refused",       "unanswered",
                                                     "stopped", "signin_failed", "error"};

struct NotifySettings {
    std::string smtpUrl; // smtp://host:port or smtps://host:port; empty: no mail
    std::string smtpUser;
    std::string smtpPassword;
    std::string mailFrom;
    std::vector<std::string> mailTo; // "MailTo", ";"-separated in the file
    std::string webhookUrl;          // http or https; empty: no webhook
    std::string webhookBody;         // a template with {title}, {text}, {event}; empty: the default
    // "NotifyOn", comma-separated; absent: every event but "stopped".
    std::vector<std::string> notifyOn;

    bool MailConfigured() const { return !smtpUrl.empty(); }
    bool WebhookConfigured() const { return !webhookUrl.empty(); }
    bool Wants(std::string_view event) const;
};

NotifySettings DefaultNotifySettings();
NotifySettings ReadNotifySettings(const ProfileFile& profile);
// Every value is checked before the first is written, so a refused value
// (a line break) leaves the whole section as it was: QuiloraError
// "Unable to write to <path>".
void WriteNotifySettings(const ProfileFile& profile, const NotifySettings& notify);

// "a@x; b@y" -> {"a@x", "b@y"}: trimmed, empty entries dropped (";" or ",").
std::vector<std::string> SplitAddresses(std::string_view text);
std::string JoinAddresses(const std::vector<std::string>& addresses);
// "booked, refused" -> {"booked", "refused"}: known names only, in the
// order of kNotifyEvents, case-insensitive, each once.
std::vector<std::string> ParseNotifyOn(std::string_view text);
std::string JoinNotifyOn(const std::vector<std::string>& events);

} // namespace quilora
