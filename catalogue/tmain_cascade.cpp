// The selection cascade of the booking page: area -> hospital -> department -> doctor.
#include "app/tmain.h"

namespace quilora {

// Filled by the cascade work; until then the lists stay empty.
void TMain::BuildAreaList() {}
void TMain::RestoreCascade() {}
void TMain::cbxAreaChange() {}
void TMain::cbxHospitalChange() {}
void TMain::cbxClassChange() {}

} // namespace quilora
