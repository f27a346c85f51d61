// The selection cascade of the booking page: area -> hospital -> department -> doctor.
// The lists' `activated` signal (a choice by mouse or keyboard) runs these
// handlers; selecting from code runs none.
#include <QComboBox>

#include "app/combo_sink.h"
#include "app/settings.h"
#include "app/tmain.h"
#include "catalogue/cascade.h"

namespace quilora {

void TMain::BuildAreaList() {
    ComboBoxSink area(*cbxArea);
    catalogue::FillAreaList(qryTmp, qryLoc, area);
}

void TMain::RestoreCascade() {
    const ProfileFile profile(SettingsPath().toStdString());
    // Each list is looked up as the step before left it; the first entry with the tag wins.
    const auto restore = [&](QComboBox& box, const char* key, void (TMain::*change)()) {
        const int index = FindTag(box, profile.ReadInteger(kSettingsSection, key, 0));
        if (index < 0)
            return;
        SelectItem(box, index);
        if (change)
            (this->*change)();
    };
    restore(*cbxArea, "AreaID", &TMain::cbxAreaChange);
    restore(*cbxHospital, "HospitalID", &TMain::cbxHospitalChange);
    restore(*cbxClass, "ClassID", &TMain::cbxClassChange);
    restore(*cbxDoctor, "DoctorID", nullptr);
}

void TMain::cbxAreaChange() {
    if (!HasSelection(*cbxArea))
        return;
    ComboBoxSink hospitals(*cbxHospital);
    if (catalogue::RefillHospitals(qryTmp, SelectedTag(*cbxArea), hospitals))
        cbxHospitalChange();
}

void TMain::cbxHospitalChange() {
    if (!HasSelection(*cbxHospital))
        return;
    ComboBoxSink departments(*cbxClass);
    if (catalogue::RefillDepartments(qryTmp, SelectedTag(*cbxHospital), departments))
        cbxClassChange();
}

void TMain::cbxClassChange() {
    if (!HasSelection(*cbxClass))
        return;
    ComboBoxSink doctors(*cbxDoctor);
    catalogue::RefillDoctors(qryTmp, SelectedTag(*cbxClass), doctors);
}

} // namespace quilora
