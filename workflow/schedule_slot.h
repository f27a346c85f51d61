#pragma once
// One published slot of a doctor's schedule, as listed in the schedule list.
#include <string>

#include "net/portal_address.h"

namespace quilora {

struct ScheduleSlot {
    int sn = 0;
    std::string date; // at most 10 GBK bytes
    int timeid = 0;
    int type = 0;
    int weekid = 0;
    std::string url; // at most 150 GBK bytes
    int state = 0;
    std::string doctorName;   // at most 30 GBK bytes
    std::string hospitalName; // at most 50 GBK bytes
    // Whose page listed it (the catalogue's ids); 0 when not known.
    int doctorId = 0;
    int hospitalId = 0;

    SlotRef Ref() const { return SlotRef{sn, date, timeid, type, weekid, url}; }
};

} // namespace quilora
