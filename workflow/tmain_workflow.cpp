// Sign-in, patients, schedule, booking and auto-booking handlers of the window.
#include "app/tmain.h"

namespace quilora {

void TMain::btnLoginClick() {}
void TMain::LoadPatients(bool) {}
void TMain::btnGetUserClick() {}
void TMain::btnRefreshDataClick() {}
void TMain::BookSlot(const ScheduleSlot&) {}
void TMain::btnOrderClick() {}
void TMain::tmrOrderTimer() {}

} // namespace quilora
