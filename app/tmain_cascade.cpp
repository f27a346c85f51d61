// The selection cascade of the booking page: area -> hospital -> department -> doctor.
// The lists' `activated` signal (a choice by mouse or keyboard) runs these
// handlers; selecting from code runs none.
#include <QComboBox>

#include "app/combo_sink.h"
#include "app/tmain.h"
#include "catalogue/cascade.h"
#include "common/settings.h"

namespace quilora {

void TMain::BuildAreaList() {
    ComboBoxSink area(*cbxArea);
    catalogue::FillAreaList(qryTmp, qryLoc, area);
}

void TMain::RestoreCascade() {
    const RestoredChoices saved = ReadChoices(ProfileFile(SettingsPath().toStdString()));
    // Each list is looked up as the step before left it; the first entry with the tag wins.
    const auto restore = [&](QComboBox& box, int tag, void (TMain::*change)()) {
        const int index = FindTag(box, tag);
        if (index < 0)
            return;
        SelectItem(box, index);
        if (change)
            (this->*change)();
    };
    restore(*cbxArea, saved.areaId, &TMain::cbxAreaChange);
    restore(*cbxHospital, saved.hospitalId, &TMain::cbxHospitalChange);
    restore(*cbxClass, saved.classId, &TMain::cbxClassChange);
    restore(*cbxDoctor, saved.doctorId, nullptr);
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
