// Every address of the portal answers with the marks the client reads, read
// through the client's own fetcher, normalisation and patterns.
#include <set>

#include "portal_client.h"

namespace quilora::portal::testing {
namespace {

class PagesTest : public PortalTest {
protected:
    void SetUp() override { StartPortal(); }
    const Catalogue& Cat() { return Portal().GetCatalogue(); }
};

TEST_F(PagesTest, CityScriptListsEveryProvinceWithItsCities) {
    const std::string text = Read(CityScriptAddress(Hosts()));
    const auto provinces = MatchAll(pattern::kProvince, text, 3);
    const auto& all = Cat().Provinces();
    // The province without cities is written with an empty list, which the
    // list pattern (one byte at least) does not take; it is the last one, so
    // it cannot swallow a neighbour.
    ASSERT_EQ(provinces.size(), all.size() - 1);
    EXPECT_TRUE(Cat().CitiesOf(all.back().id).empty());
    EXPECT_NE(text.find("{name:" + all.back().name + ",id:" + std::to_string(all.back().id) + ",city:[]}"),
              std::string::npos);
    for (std::size_t i = 0; i < provinces.size(); ++i) {
        EXPECT_EQ(provinces[i][1], all[i].name);
        EXPECT_EQ(provinces[i][2], std::to_string(all[i].id));
        const auto cities = MatchAll(pattern::kCity, provinces[i][3], 2);
        const auto expected = Cat().CitiesOf(all[i].id);
        ASSERT_EQ(cities.size(), expected.size()) << all[i].name;
        for (std::size_t j = 0; j < cities.size(); ++j) {
            EXPECT_EQ(cities[j][1], expected[j].name);
            EXPECT_EQ(cities[j][2], std::to_string(expected[j].id));
        }
    }
}

TEST_F(PagesTest, HospitalScriptListsEveryCityWithItsHospitals) {
    const std::string text = Read(HospitalScriptAddress(Hosts()));
    const auto entries = MatchAll(pattern::kCityHospitals, text, 3);
    ASSERT_EQ(entries.size(), Cat().Cities().size());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const City& city = Cat().Cities()[i];
        EXPECT_EQ(entries[i][1], std::to_string(city.provinceId));
        EXPECT_EQ(entries[i][2], std::to_string(city.id));
        const auto expected = Cat().HospitalsOf(city.id);
        const auto hospitals = MatchAll(pattern::kHospital, entries[i][3], 2);
        ASSERT_EQ(hospitals.size(), expected.size());
        for (std::size_t j = 0; j < hospitals.size(); ++j) {
            EXPECT_EQ(hospitals[j][1], std::to_string(expected[j].id));
            EXPECT_EQ(hospitals[j][2], Lower(expected[j].name));
            names.push_back(hospitals[j][2]);
        }
    }
    // Latin capitals arrive lower-cased; a blank and a single quote stay.
    EXPECT_NE(std::find(names.begin(), names.end(), "imc国际医疗中心"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "st mary's妇儿医院"), names.end());
}

TEST_F(PagesTest, DepartmentListGivesOneMatchPerDepartment) {
    const Hospital& first = Cat().Hospitals().front();
    const auto expected = Cat().DepartmentsOf(first.id);
    const auto found = MatchAll(pattern::kDepartment, Read(DepartmentsAddress(Hosts(), first.id)), 2);
    ASSERT_EQ(found.size(), expected.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i][1], std::to_string(expected[i].id));
        EXPECT_EQ(found[i][2], Lower(expected[i].name));
    }
    // Capitals arrive lower-cased, the blank stays.
    for (const Department& special : {Cat().Departments()[1], Cat().Departments()[2]}) {
        const auto list =
            MatchAll(pattern::kDepartment, Read(DepartmentsAddress(Hosts(), special.hospitalId)), 2);
        EXPECT_TRUE(std::any_of(list.begin(), list.end(), [&](const Groups& g) {
            return g[1] == std::to_string(special.id) && g[2] == Lower(special.name);
        })) << special.name;
    }
    EXPECT_EQ(Lower(Cat().Departments()[1].name), "icu重症医学科");
    EXPECT_EQ(Cat().Departments()[2].name, "口腔 正畸科");
    // An unknown hospital has an empty list, not an error page.
    EXPECT_TRUE(MatchAll(pattern::kDepartment, Read(DepartmentsAddress(Hosts(), 999999)), 2).empty());
}

TEST_F(PagesTest, DoctorListGivesNamesAndTitlesIncludingAnEmptyName) {
    const Department& first = Cat().Departments().front();
    const auto expected = Cat().DoctorsOf(first.id);
    ASSERT_EQ(expected.size(), 5u);
    const std::string text = Read(DoctorsAddress(Hosts(), first.id));
    const auto found = MatchAll(pattern::kDoctor, text, 3);
    // The last doctor has no title: its link ends right after "&nbsp;", which
    // the title group (one byte at least) cannot take, so it is not matched.
    ASSERT_EQ(found.size(), 4u);
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i][1], std::to_string(expected[i].id));
        EXPECT_EQ(found[i][2], Lower(expected[i].name));
        EXPECT_EQ(found[i][3], expected[i].title);
    }
    EXPECT_EQ(found[1][2], "david chen");
    EXPECT_EQ(found[2][2], "o'brien");
    EXPECT_EQ(found[3][2], "");
    EXPECT_TRUE(expected[4].title.empty());
    EXPECT_NE(text.find("href=doctor.aspx?doctid=" + std::to_string(expected[4].id) + ">" + expected[4].name +
                        "&nbsp;</a>"),
              std::string::npos);
}

TEST_F(PagesTest, DoctorPageListsEverySlotWithItsFields) {
    const Doctor& doctor = Cat().Doctors()[7];
    const auto slots = Portal().SlotsOf(doctor.id);
    const auto found =
        MatchAll(pattern::kScheduleSlot,
                 Read(DoctorPageAddress(Hosts(), doctor.hospitalId, doctor.id, EpochMillis())), 7);
    ASSERT_EQ(found.size(), slots.size());
    std::set<std::string> states;
    for (std::size_t i = 0; i < found.size(); ++i) {
        const Slot& s = slots[i];
        EXPECT_EQ(found[i][1], std::to_string(s.sn));
        EXPECT_EQ(found[i][2], s.date);
        EXPECT_EQ(found[i][3], std::to_string(s.timeid));
        EXPECT_EQ(found[i][4], std::to_string(s.type));
        EXPECT_EQ(found[i][5], std::to_string(s.weekid));
        EXPECT_EQ(found[i][6], Lower(s.url));
        EXPECT_EQ(found[i][7], std::to_string(s.state));
        states.insert(found[i][7]);
        EXPECT_GE(s.date, "2030-03-04");
        EXPECT_LE(s.date, "2030-03-17");
    }
    EXPECT_EQ(states, (std::set<std::string>{"0", "1", "2", "3", "4"}));
    // A suspended slot carries an empty url, which the slot pattern allows.
    EXPECT_EQ(found[2][7], "0");
    EXPECT_EQ(found[2][6], "");
}

TEST_F(PagesTest, EveryDoctorWorksBothHalfDaysAcrossTheCatalogue) {
    std::set<int> halves;
    for (const Doctor& d : Cat().Doctors())
        for (const Slot& s : Portal().SlotsOf(d.id))
            halves.insert(s.timeid);
    EXPECT_EQ(halves, (std::set<int>{1, 2}));
}

TEST_F(PagesTest, DoctorPageOfAnotherHospitalHasNoSlots) {
    const Doctor& doctor = Cat().Doctors()[7];
    const std::string text =
        Read(DoctorPageAddress(Hosts(), doctor.hospitalId + 1, doctor.id, EpochMillis()));
    EXPECT_TRUE(MatchAll(pattern::kScheduleSlot, text, 7).empty());
}

TEST_F(PagesTest, PatientPageMatchesOncePerPatientAfterBlanksAreRemoved) {
    SignInDemo();
    const std::string text = ReplaceAll(Read(PatientsAddress(Hosts(), EpochMillis())), " ", "");
    const auto found = MatchAll(pattern::kPatient, text, 6);
    const auto& patients = Portal().DemoAccount().patients;
    ASSERT_EQ(found.size(), patients.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i][2], patients[i].relation);
        EXPECT_EQ(found[i][3], patients[i].sex);
        EXPECT_EQ(found[i][4], patients[i].birthday);
        EXPECT_EQ(found[i][5], std::to_string(patients[i].memberNumber));
        EXPECT_EQ(found[i][6], std::to_string(patients[i].clinicNumber));
    }
    EXPECT_EQ(found[0][1], "张晓燕");
    EXPECT_EQ(found[1][1], "liming"); // "Li Ming" on the page
}

TEST_F(PagesTest, NumberListOfAnOpenSlotSatisfiesTheBookingAndThePoll) {
    SignInDemo();
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    const std::vector<int> free = Portal().FreeNumbers(open->slot.sn);
    ASSERT_GE(free.size(), 2u);
    const std::string text = Read(NumberListAddress(Hosts(), RefOf(open->slot), EpochMillis()));
    const auto entries = MatchAll(pattern::kNumberEntry, text, 4);
    ASSERT_EQ(entries.size(), free.size());
    const Hospital* hospital = Portal().GetCatalogue().FindHospital(open->slot.hospitalId);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i][1], std::to_string(Catalogue::NumberId(open->slot.sn, free[i])));
        EXPECT_EQ(entries[i][2], "ghsn" + std::to_string(open->slot.sn));
        EXPECT_EQ(entries[i][3], std::to_string(hospital->provinceId));
        EXPECT_EQ(entries[i][4], std::to_string(hospital->id));
    }
    EXPECT_TRUE(MatchOne(pattern::kSlotOpened, text, 4));
    EXPECT_EQ(text.find(pattern::kNotReleasedMarker), std::string::npos);
}

TEST_F(PagesTest, NumberListAnswersOfSlotsWithoutNumbers) {
    SignInDemo();
    const struct {
        int state;
        std::string_view marker;
    } cases[] = {
        {state::kNotReleased, "|未放号|"},
        {state::kFull, "|已约满|"},
        {state::kClosed, "|已截止|"},
        {state::kSuspended, "|停诊|"},
    };
    for (const auto& c : cases) {
        const auto found = Portal().FindSlot(c.state);
        ASSERT_TRUE(found) << c.state;
        const std::string text = Read(NumberListAddress(Hosts(), RefOf(found->slot), EpochMillis()));
        EXPECT_NE(text.find(c.marker), std::string::npos) << text;
        EXPECT_FALSE(MatchOne(pattern::kNumberEntry, text, 4)) << c.state;
        EXPECT_FALSE(MatchOne(pattern::kSlotOpened, text, 4)) << c.state;
    }
}

TEST_F(PagesTest, NumberListRefusesFieldsThatDifferFromTheDoctorPage) {
    SignInDemo();
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    SlotRef ref = RefOf(open->slot);
    ref.date = ref.date.substr(0, 9);
    const std::string text = Read(NumberListAddress(Hosts(), ref, EpochMillis()));
    EXPECT_NE(text.find("|参数错误|"), std::string::npos);
    EXPECT_FALSE(MatchOne(pattern::kNumberEntry, text, 4));
}

// The registration form read in the client's order: a and b from the start;
// c, d and e each cut the text after their match; f and g read what is left.
struct FormValues {
    std::string certificateType, certificateNo, year, month, day, identityNo, otherCard;
};
FormValues ReadForm(std::string form) {
    FormValues v{"8", "", "1980", "1", "1", "", ""};
    auto take = [&form](std::string_view p, std::string& out, bool cut) {
        TRegExpr re;
        re.SetExpression(p);
        re.SetInputString(form);
        if (!re.Exec())
            return;
        out = re.Capture(1);
        if (cut)
            form = form.substr(re.MatchEnd());
    };
    take(pattern::kFormCertificateType, v.certificateType, false);
    take(pattern::kFormCertificateNo, v.certificateNo, false);
    take(pattern::kFormSelectedOption, v.year, true);
    take(pattern::kFormMonth, v.month, true);
    take(pattern::kFormSelectedOption, v.day, true);
    take(pattern::kFormIdentityNo, v.identityNo, false);
    take(pattern::kFormOtherCard, v.otherCard, false);
    return v;
}

TEST_F(PagesTest, RegistrationFormCarriesThePatientsSelectedValues) {
    SignInDemo();
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    const Patient& patient = Portal().DemoAccount().patients[0]; // born 1985-03-14
    const int number = Catalogue::NumberId(open->slot.sn, Portal().FreeNumbers(open->slot.sn).front());
    const FormValues v =
        ReadForm(Read(RegistrationFormAddress(Hosts(), number, patient.clinicNumber, EpochMillis())));
    EXPECT_EQ(v.certificateType, "1");
    EXPECT_EQ(v.certificateNo, Lower(patient.identityNo));
    EXPECT_EQ(v.year, "1985");
    EXPECT_EQ(v.month, "3");
    EXPECT_EQ(v.day, "14");
    EXPECT_EQ(v.identityNo, Lower(patient.identityNo));
    EXPECT_EQ(v.otherCard, "yb" + std::to_string(patient.clinicNumber));
}

TEST_F(PagesTest, RegistrationFormForAPatientOfAnotherAccountHasNoForm) {
    SignInDemo();
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    const int number = Catalogue::NumberId(open->slot.sn, Portal().FreeNumbers(open->slot.sn).front());
    const std::string text = Read(RegistrationFormAddress(Hosts(), number, 424242, EpochMillis()));
    EXPECT_FALSE(MatchOne(pattern::kFormSelectedOption, text, 1));
}

} // namespace
} // namespace quilora::portal::testing
