// The maintenance page: rebuilds the catalogue tables from the portal.
#include "app/tmain.h"

namespace quilora {

void TMain::btnGetDataClick() {}
void TMain::btnGetHospitalClick() {}
void TMain::btnKeshiClick() {}
void TMain::btnGetDoctorClick() {}
void TMain::btnTestClick() {}

} // namespace quilora
