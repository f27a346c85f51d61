// Release of not-yet-released slots, and bookings taking numbers.
#include <thread>

#include "portal_client.h"

namespace quilora::portal::testing {
namespace {

class BookingTest : public PortalTest {
protected:
    void SetUp() override {
        StartPortal();
        SignInDemo();
    }

    int StateOnDoctorPage(const SlotOfDoctor& s) {
        const std::string text =
            Read(DoctorPageAddress(Hosts(), s.doctor.hospitalId, s.doctor.id, EpochMillis()));
        for (const Groups& g : MatchAll(pattern::kScheduleSlot, text, 7))
            if (g[1] == std::to_string(s.slot.sn))
                return std::stoi(g[7]);
        return -1;
    }
    bool PollSeesOpen(const Slot& slot) {
        return MatchOne(pattern::kSlotOpened, Read(SlotPollAddress(Hosts(), RefOf(slot), 2, EpochMillis())),
                        4)
            .has_value();
    }

    // The registration the client sends for number `number`, with the values
    // read from the number list and the form the portal wrote.
    RegistrationValues ValuesFor(const Slot& slot, int number, const Patient& p) {
        const Hospital* h = Portal().GetCatalogue().FindHospital(slot.hospitalId);
        RegistrationValues v;
        v.id = number;
        v.url = "ghsn" + std::to_string(slot.sn);
        v.memberid = p.clinicNumber;
        v.provinceid = h->provinceId;
        v.ghthospitalid = h->id;
        v.identityNo = Lower(p.identityNo);
        v.othercard = "yb" + std::to_string(p.clinicNumber);
        v.year = p.birthday.substr(0, 4);
        v.month = std::to_string(std::stoi(p.birthday.substr(5, 2)));
        v.day = std::to_string(std::stoi(p.birthday.substr(8, 2)));
        v.zhengjiantype = 1;
        v.zhengjianid = Lower(p.identityNo);
        return v;
    }
    std::string Register(const RegistrationValues& v) {
        return Read(RegistrationAddress(Hosts(), v, EpochMillis()));
    }
    const Patient& Demo(int i) { return Portal().DemoAccount().patients[std::size_t(i)]; }
};

TEST_F(BookingTest, ASlotOpensAfterTheArmedNumberOfPolls) {
    const auto waiting = Portal().FindSlot(state::kNotReleased);
    ASSERT_TRUE(waiting);
    Portal().ReleaseAfterPolls(waiting->slot.sn, 3);
    EXPECT_EQ(StateOnDoctorPage(*waiting), state::kNotReleased);
    for (int poll = 1; poll <= 3; ++poll) {
        const std::string text = Read(SlotPollAddress(Hosts(), RefOf(waiting->slot), 2, EpochMillis()));
        EXPECT_NE(text.find(pattern::kNotReleasedMarker), std::string::npos) << "poll " << poll;
        EXPECT_FALSE(MatchOne(pattern::kSlotOpened, text, 4)) << "poll " << poll;
    }
    EXPECT_EQ(Portal().PollsOf(waiting->slot.sn), 3);
    EXPECT_EQ(StateOnDoctorPage(*waiting), state::kNotReleased); // the doctor page is no poll
    EXPECT_TRUE(PollSeesOpen(waiting->slot));
    EXPECT_EQ(StateOnDoctorPage(*waiting), state::kOpen);
    // From then on the booking's own request (state=4) has entries too.
    EXPECT_FALSE(MatchAll(pattern::kNumberEntry,
                          Read(NumberListAddress(Hosts(), RefOf(waiting->slot), EpochMillis())), 4)
                     .empty());
}

TEST_F(BookingTest, ASlotOpensAtItsReleaseTime) {
    const auto waiting = Portal().FindSlot(state::kNotReleased);
    ASSERT_TRUE(waiting);
    Portal().ReleaseAt(waiting->slot.sn, std::chrono::system_clock::now() + std::chrono::milliseconds(300));
    EXPECT_FALSE(PollSeesOpen(waiting->slot));
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    EXPECT_EQ(StateOnDoctorPage(*waiting), state::kOpen);
    EXPECT_TRUE(PollSeesOpen(waiting->slot));
}

TEST_F(BookingTest, WithoutArmingASlotIsNeverReleasedByPolls) {
    const auto waiting = Portal().FindSlot(state::kNotReleased);
    ASSERT_TRUE(waiting);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(PollSeesOpen(waiting->slot));
}

TEST_F(BookingTest, ABookingTakesTheNumberAndATakenNumberIsRefused) {
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    const std::vector<int> free = Portal().FreeNumbers(open->slot.sn);
    const int number = Catalogue::NumberId(open->slot.sn, free.front());

    EXPECT_NE(Register(ValuesFor(open->slot, number, Demo(0))).find("成功"), std::string::npos);
    EXPECT_EQ(Portal().FreeNumbers(open->slot.sn).size(), free.size() - 1);
    ASSERT_EQ(Portal().Bookings().size(), 1u);
    EXPECT_EQ(Portal().Bookings()[0].numberId, number);
    EXPECT_EQ(Portal().Bookings()[0].clinicNumber, Demo(0).clinicNumber);

    const auto entries = MatchAll(pattern::kNumberEntry,
                                  Read(NumberListAddress(Hosts(), RefOf(open->slot), EpochMillis())), 4);
    for (const Groups& g : entries)
        EXPECT_NE(g[1], std::to_string(number));

    const std::string again = Register(ValuesFor(open->slot, number, Demo(1)));
    EXPECT_EQ(again.find("成功"), std::string::npos);
    EXPECT_NE(again.find("已被预约"), std::string::npos);
    EXPECT_EQ(Portal().Bookings().size(), 1u);
}

TEST_F(BookingTest, TakingTheLastNumberTurnsTheSlotFull) {
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    const std::vector<int> free = Portal().FreeNumbers(open->slot.sn);
    for (int k : free)
        ASSERT_NE(
            Register(ValuesFor(open->slot, Catalogue::NumberId(open->slot.sn, k), Demo(0))).find("成功"),
            std::string::npos);
    EXPECT_EQ(StateOnDoctorPage(*open), state::kFull);
    const std::string list = Read(NumberListAddress(Hosts(), RefOf(open->slot), EpochMillis()));
    EXPECT_NE(list.find("|已约满|"), std::string::npos);
    EXPECT_FALSE(MatchOne(pattern::kSlotOpened, list, 4));
    const std::string refused =
        Register(ValuesFor(open->slot, Catalogue::NumberId(open->slot.sn, free.front()), Demo(1)));
    EXPECT_EQ(refused.find("成功"), std::string::npos);
    EXPECT_NE(refused.find("已约满"), std::string::npos);
}

TEST_F(BookingTest, RegistrationsThatDoNotMatchTheFormAreRefused) {
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    const int number = Catalogue::NumberId(open->slot.sn, Portal().FreeNumbers(open->slot.sn).front());
    const RegistrationValues good = ValuesFor(open->slot, number, Demo(0));
    const struct {
        std::string_view what;
        void (*spoil)(RegistrationValues&);
    } cases[] = {
        {"form defaults", [](RegistrationValues& v) { v.year = "1980", v.month = "1", v.day = "1"; }},
        {"certificate type", [](RegistrationValues& v) { v.zhengjiantype = 8; }},
        {"identity", [](RegistrationValues& v) { v.identityNo.clear(); }},
        {"other card", [](RegistrationValues& v) { v.othercard.clear(); }},
        {"url", [](RegistrationValues& v) { v.url = "ghsn1"; }},
        {"hospital", [](RegistrationValues& v) { v.ghthospitalid += 1; }},
        {"patient of another account", [](RegistrationValues& v) { v.memberid = 424242; }},
    };
    for (const auto& c : cases) {
        RegistrationValues v = good;
        c.spoil(v);
        EXPECT_EQ(Register(v).find("成功"), std::string::npos) << c.what;
    }
    EXPECT_TRUE(Portal().Bookings().empty());
    EXPECT_NE(Register(good).find("成功"), std::string::npos);
}

TEST_F(BookingTest, SlotsThatCannotBeBookedRefuseRegistration) {
    for (int state : {state::kNotReleased, state::kClosed, state::kSuspended}) {
        const auto s = Portal().FindSlot(state);
        ASSERT_TRUE(s);
        const std::string answer = Register(ValuesFor(s->slot, Catalogue::NumberId(s->slot.sn, 0), Demo(0)));
        EXPECT_EQ(answer.find("成功"), std::string::npos) << state;
    }
    EXPECT_TRUE(Portal().Bookings().empty());
}

} // namespace
} // namespace quilora::portal::testing
