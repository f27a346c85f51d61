#pragma once
// The doctor and hospital of a command, found in the catalogue and named as
// the window's drop-downs name them, so that the slots carry the same texts.
#include <optional>
#include <string>

#include "common/database.h"

namespace quilora::book {

struct DoctorChoice {
    int doctorId = 0;
    int hospitalId = 0;
    std::string doctorText;   // "name(title)", as the doctor list shows it
    std::string hospitalName; // as the hospital list shows it
};

// The doctor's hospital is TDoctor -> TClass -> THospital unless hospitalId
// is given. Throws UsageError when the catalogue lacks the doctor or the hospital.
DoctorChoice LookUpDoctor(db::Query& query, int doctorId, std::optional<int> hospitalId);

} // namespace quilora::book
