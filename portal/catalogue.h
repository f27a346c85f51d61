#pragma once
// The synthetic catalogue the demo portal serves: provinces, cities, hospitals,
// departments and doctors, plus each doctor's published slots. Everything is a
// pure function of the seed, the scale and the first day, so two portals built
// with the same options serve the same pages.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "portal/calendar.h"

namespace quilora::portal {

enum class Scale { Demo, National };

struct Province {
    int id = 0;
    std::string name;
};

struct City {
    int id = 0;
    int provinceId = 0;
    std::string name;
};

struct Hospital {
    int id = 0;
    int provinceId = 0;
    int cityId = 0;
    std::string name;
};

struct Department {
    int id = 0;
    int hospitalId = 0;
    std::string name;
};

struct Doctor {
    int id = 0;
    int departmentId = 0;
    int hospitalId = 0;
    std::string name;   // may be empty
    std::string title;  // may be empty
    int clinicType = 1; // 1 ordinary, 2 special, 3 expert
};

// Slot states as the doctor page writes them.
namespace state {
inline constexpr int kSuspended = 0;
inline constexpr int kClosed = 1;
inline constexpr int kNotReleased = 2;
inline constexpr int kFull = 3;
inline constexpr int kOpen = 4;
} // namespace state

struct Slot {
    int sn = 0;
    std::string date; // YYYY-MM-DD
    int timeid = 1;   // 1 morning, 2 afternoon
    int type = 1;
    int weekid = 1;  // 1 Monday .. 7 Sunday
    std::string url; // as the page writes it (mixed case, may be empty)
    int state = state::kOpen;
    int doctorId = 0;
    int hospitalId = 0;
    int numberCount = 0;              // numbers the slot offers in all
    std::uint32_t initiallyTaken = 0; // bit k: number k booked before the portal started
};

struct CatalogueOptions {
    std::uint64_t seed = 1;
    Scale scale = Scale::Demo;
    Date firstDay; // first of the fourteen days with slots
};

class Catalogue {
public:
    static constexpr int kDays = 14;
    static constexpr int kMaxNumbers = 16;

    static Catalogue Generate(const CatalogueOptions& options);

    const CatalogueOptions& Options() const { return options_; }
    const std::vector<Province>& Provinces() const { return provinces_; }
    const std::vector<City>& Cities() const { return cities_; }
    const std::vector<Hospital>& Hospitals() const { return hospitals_; }
    const std::vector<Department>& Departments() const { return departments_; }
    const std::vector<Doctor>& Doctors() const { return doctors_; }

    const Province* FindProvince(int id) const;
    const City* FindCity(int id) const;
    const Hospital* FindHospital(int id) const;
    const Department* FindDepartment(int id) const;
    const Doctor* FindDoctor(int id) const;

    std::span<const City> CitiesOf(int provinceId) const;
    std::span<const Hospital> HospitalsOf(int cityId) const;
    std::span<const Department> DepartmentsOf(int hospitalId) const;
    std::span<const Doctor> DoctorsOf(int departmentId) const;

    // The doctor's published slots in time order, with the states they start in.
    std::vector<Slot> SlotsOf(int doctorId) const;
    std::optional<Slot> FindSlot(int sn) const;

    // Number ids are unique over the portal and name their slot.
    static int NumberId(int sn, int k) { return sn * kMaxNumbers + k; }
    static int SlotOfNumber(int numberId) { return numberId / kMaxNumbers; }
    static int IndexOfNumber(int numberId) { return numberId % kMaxNumbers; }
    // "HH:MM" at which number k of a half-day is seen.
    static std::string NumberTime(int timeid, int k);

private:
    struct Range {
        int first = 0;
        int count = 0;
    };
    template <typename T>
    static std::span<const T> Children(const std::vector<T>& items, const std::vector<Range>& ranges,
                                       std::size_t parentIndex);

    CatalogueOptions options_;
    std::vector<Province> provinces_;
    std::vector<City> cities_;
    std::vector<Hospital> hospitals_;
    std::vector<Department> departments_;
    std::vector<Doctor> doctors_;
    std::vector<Range> citiesOfProvince_;
    std::vector<Range> hospitalsOfCity_;
    std::vector<Range> departmentsOfHospital_;
    std::vector<Range> doctorsOfDepartment_;
};

// First ids of each level; ids are dense from there.
inline constexpr int kFirstProvinceId = 1;
inline constexpr int kFirstCityId = 101;
inline constexpr int kFirstHospitalId = 1001;
inline constexpr int kFirstDepartmentId = 10001;
inline constexpr int kFirstDoctorId = 100001;
inline constexpr int kFirstSn = 1000000;

} // namespace quilora::portal
