// The doctor's schedule in the schedule list.
#include <QComboBox>

#include "app/combo_sink.h"
#include "app/dialogs.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "workflow/schedule.h"

namespace quilora {

namespace {

// The identifier of the list's choice; a heading (0) or no choice at all ends the refresh.
int ChosenId(const QComboBox& box, std::string_view hint) {
    const int id = HasSelection(box) ? SelectedTag(box) : 0;
    if (id == 0)
        AbortWithHint(hint);
    return id;
}

} // namespace

void TMain::btnRefreshDataClick() {
    if (loginCardNo.empty())
        return;
    ChosenId(*cbxArea, "请选择城市!");
    const int hospitalId = ChosenId(*cbxHospital, "请选择医院!");
    ChosenId(*cbxClass, "请选择科室!");
    const int doctorId = ChosenId(*cbxDoctor, "请选择医生!");
    SaveSettings();
    StartWait(JobKind::Schedule, Worker().FetchSchedule(hospitalId, doctorId, SelectedText(*cbxDoctor),
                                                        SelectedText(*cbxHospital)));
}

void TMain::ScheduleDone(const JobOutcome& out) {
    // Rows share their slot with orderSlot, so an armed slot outlives the refresh
    // and the others go with their rows. The rows go once the page is in.
    if (out.pageIn)
        lvLog->Clear();
    for (const ScheduleSlot& s : out.schedule) {
        auto slot = std::make_shared<const ScheduleSlot>(s);
        lvLog->AddRow(slot, ScheduleRowCells(*slot));
    }
    if (out.error.empty())
        lvLog->SortAscending(0);
}

} // namespace quilora
