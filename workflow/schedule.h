#pragma once
// A doctor's page read into schedule slots, and the texts a row shows.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/schedule_slot.h"

namespace quilora {

// GBK byte limits of the slot's texts.
inline constexpr std::size_t kSlotDateBytes = 10;
inline constexpr std::size_t kSlotUrlBytes = 150;
inline constexpr std::size_t kSlotDoctorBytes = 30;
inline constexpr std::size_t kSlotHospitalBytes = 50;

std::string HalfDayText(int timeid);
std::string ClinicTypeText(int type);
std::string WeekdayText(int weekid);
std::string SlotStateText(int state);

// Caption and cells of the slot's row: date, half-day, clinic type, weekday, state.
std::vector<std::string> ScheduleRowCells(const ScheduleSlot& slot);

// Calls onSlot for every slot of the normalised doctor's page, in page order.
// A number that does not fit 32 bits throws ConversionError at its match;
// the slots before it have been delivered. Returns the number delivered.
std::size_t ScanSchedule(std::string_view page, std::string_view doctorName, std::string_view hospitalName,
                         const std::function<void(ScheduleSlot)>& onSlot);

} // namespace quilora
