// Config.ini: the saved choices and the password, through the settings module.
#include <QComboBox>
#include <QDir>
#include <QLineEdit>

#include "app/combo_sink.h"
#include "app/tmain.h"
#include "common/settings.h"

namespace quilora {

namespace {

std::optional<int> TagIfSelected(const QComboBox& box) {
    return HasSelection(box) ? std::optional<int>(SelectedTag(box)) : std::nullopt;
}

} // namespace

QString TMain::SettingsPath() const {
    return QDir::toNativeSeparators(QDir(settingsDir_).filePath(QString::fromLatin1(kSettingsFileName)));
}

void TMain::SaveSettings() {
    SavedChoices c;
    c.userTypeArea = TagIfSelected(*cbxUserTypeArea);
    if (HasSelection(*cbxUserTypeCard))
        c.userTypeCard = SelectedIdText(*cbxUserTypeCard);
    c.areaId = TagIfSelected(*cbxArea);
    c.hospitalId = TagIfSelected(*cbxHospital);
    c.classId = TagIfSelected(*cbxClass);
    c.doctorId = TagIfSelected(*cbxDoctor);
    c.password = edtPasswd->text().toStdString();
    WriteChoices(ProfileFile(SettingsPath().toStdString()), c);
}

void TMain::RestoreSettings() {
    const RestoredChoices c = ReadChoices(ProfileFile(SettingsPath().toStdString()));
    // No match keeps the first entry that the fill selected.
    if (const int userType = FindTag(*cbxUserTypeArea, c.userTypeArea); userType >= 0)
        SelectItem(*cbxUserTypeArea, userType);
    if (const int cardType = FindIdText(*cbxUserTypeCard, c.userTypeCard); cardType >= 0)
        SelectItem(*cbxUserTypeCard, cardType);
    edtPasswd->setText(QString::fromStdString(c.password));
}

} // namespace quilora
