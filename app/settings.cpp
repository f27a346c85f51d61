// Config.ini: the connection string, the saved choices and the password.
#include "app/settings.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>

#include "app/combo_sink.h"
#include "app/tmain.h"

namespace quilora {

QString TMain::SettingsPath() const {
    return QDir::toNativeSeparators(QDir(settingsDir_).filePath(QString::fromLatin1(kSettingsFileName)));
}

void TMain::SaveSettings() {
    const ProfileFile profile(SettingsPath().toStdString());
    // A list without a selection leaves its key as an earlier run wrote it.
    if (HasSelection(*cbxUserTypeArea))
        profile.WriteInteger(kSettingsSection, "UserTypeArea", SelectedTag(*cbxUserTypeArea));
    if (HasSelection(*cbxUserTypeCard))
        profile.WriteString(kSettingsSection, "UserTypeCard", SelectedIdText(*cbxUserTypeCard));
    if (HasSelection(*cbxArea))
        profile.WriteInteger(kSettingsSection, "AreaID", SelectedTag(*cbxArea));
    if (HasSelection(*cbxHospital))
        profile.WriteInteger(kSettingsSection, "HospitalID", SelectedTag(*cbxHospital));
    if (HasSelection(*cbxClass))
        profile.WriteInteger(kSettingsSection, "ClassID", SelectedTag(*cbxClass));
    if (HasSelection(*cbxDoctor))
        profile.WriteInteger(kSettingsSection, "DoctorID", SelectedTag(*cbxDoctor));
    profile.WriteString(kSettingsSection, "Passwd", edtPasswd->text().toStdString());
}

void TMain::RestoreSettings() {
    const ProfileFile profile(SettingsPath().toStdString());
    // No match keeps the first entry that the fill selected.
    const int userType = FindTag(*cbxUserTypeArea, profile.ReadInteger(kSettingsSection, "UserTypeArea", 0));
    if (userType >= 0)
        SelectItem(*cbxUserTypeArea, userType);
    const int cardType =
        FindIdText(*cbxUserTypeCard, profile.ReadString(kSettingsSection, "UserTypeCard", ""));
    if (cardType >= 0)
        SelectItem(*cbxUserTypeCard, cardType);
    edtPasswd->setText(QString::fromStdString(profile.ReadString(kSettingsSection, "Passwd", "")));
}

} // namespace quilora
