// Release of not-yet-released slots, the rush after it, and bookings taking numbers.
#include <functional>
#include <thread>

#include "common/gbk.h"

#include "portal_client.h"

namespace quilora::portal::testing {
namespace {

class BookingTest : public PortalTest {
protected:
    void SetUp() override {
        StartPortal(Options());
        SignInDemo();
    }
    virtual PortalOptions Options() const { return TestOptions(); }

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
    Portal().ReleaseAt(waiting->slot.sn, Portal().Now() + std::chrono::milliseconds(300));
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
    // One patient takes one number of a slot: an open slot with no more free
    // numbers than the demo account has patients.
    std::optional<portal::SlotOfDoctor> open;
    for (const portal::Doctor& d : Portal().GetCatalogue().Doctors()) {
        for (const portal::Slot& s : Portal().SlotsOf(d.id))
            if (s.state == state::kOpen &&
                Portal().FreeNumbers(s.sn).size() <= Portal().DemoAccount().patients.size())
                open = portal::SlotOfDoctor{d, s};
        if (open)
            break;
    }
    ASSERT_TRUE(open);
    const std::vector<int> free = Portal().FreeNumbers(open->slot.sn);
    ASSERT_GE(free.size(), 2u);
    const std::string twice =
        Register(ValuesFor(open->slot, Catalogue::NumberId(open->slot.sn, free[0]), Demo(0)));
    ASSERT_NE(twice.find("成功"), std::string::npos);
    // The same patient again on the same slot, another number: refused.
    EXPECT_NE(Register(ValuesFor(open->slot, Catalogue::NumberId(open->slot.sn, free[1]), Demo(0)))
                  .find("您已预约过该时段，不能重复预约！"),
              std::string::npos);
    for (std::size_t i = 1; i < free.size(); ++i)
        ASSERT_NE(Register(ValuesFor(open->slot, Catalogue::NumberId(open->slot.sn, free[i]), Demo(int(i))))
                      .find("成功"),
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

class BusyAfterReleaseTest : public BookingTest {
protected:
    PortalOptions Options() const override {
        PortalOptions o = TestOptions();
        o.busyAfterRelease = 3;
        return o;
    }

    enum class Seen { NotReleased, Busy, Open };
    // The slot's number list as the poll (state 2) or the booking (state 4) asks it.
    Seen AskNumberList(const std::string& cookie, const Slot& slot, int state) {
        const PortalAddress address = state == 4
                                          ? NumberListAddress(Hosts(), RefOf(slot), EpochMillis())
                                          : SlotPollAddress(Hosts(), RefOf(slot), state, EpochMillis());
        const auto res = RawGet(Portal(), TargetOf(Portal(), address), cookie);
        if (!res) {
            ADD_FAILURE() << "no answer";
            return Seen::NotReleased;
        }
        const std::string body = NormalisePage(CharsetToUtf8(res->body, "gbk"));
        const bool entries = body.find("guahaodiv") != std::string::npos;
        const bool marker = body.find(pattern::kNotReleasedMarker) != std::string::npos;
        if (res->status == 503) {
            EXPECT_NE(res->body.find("<TITLE>Service Unavailable</TITLE>"), std::string::npos);
            EXPECT_NE(res->body.find("Server Too Busy"), std::string::npos);
            EXPECT_EQ(res->get_header_value("Content-Type").find("text/html"), 0u);
            EXPECT_TRUE(res->has_header("Date"));
            EXPECT_FALSE(entries || marker) << body;
            return Seen::Busy;
        }
        EXPECT_EQ(res->status, 200);
        EXPECT_NE(entries, marker) << body;
        return entries ? Seen::Open : Seen::NotReleased;
    }
    std::vector<std::string> NumberListFaults() const {
        std::vector<std::string> faults;
        for (const RequestLogEntry& e : portal_->RequestLog())
            if (Lower(e.path) == "/action/numberwater.ashx")
                faults.push_back(e.fault);
        return faults;
    }
};

TEST_F(BusyAfterReleaseTest, TheFirstNumberListAnswersAfterAReleaseAreServerTooBusy) {
    const auto waiting = Portal().FindSlot(state::kNotReleased);
    ASSERT_TRUE(waiting);
    const int sn = waiting->slot.sn;
    const std::string cookie = SessionCookie(Portal());
    using enum Seen;
    const struct {
        std::string_view how;
        std::function<void()> arm;
        std::vector<Seen> seen; // polls and bookings taking turns
    } cases[] = {
        // The request that releases the slot is the first one turned away.
        {"by polls",
         [&] { Portal().ReleaseAfterPolls(sn, 2); },
         {NotReleased, NotReleased, Busy, Busy, Busy, Open}},
        {"at a time", [&] { Portal().ReleaseAt(sn, Portal().Now()); }, {Busy, Busy, Busy, Open, Open}},
    };
    for (const auto& c : cases) {
        c.arm(); // re-arming starts the count again
        Portal().ClearRequestLog();
        std::vector<Seen> seen;
        std::vector<std::string> faults;
        for (std::size_t i = 0; i < c.seen.size(); ++i) {
            seen.push_back(AskNumberList(cookie, waiting->slot, i % 2 == 0 ? 2 : 4));
            faults.push_back(seen.back() == Busy ? "busy" : "none");
        }
        EXPECT_EQ(seen, c.seen) << c.how;
        EXPECT_EQ(NumberListFaults(), faults) << c.how;
    }
}

TEST_F(BusyAfterReleaseTest, OnlyTheNumberListIsBusy) {
    const auto waiting = Portal().FindSlot(state::kNotReleased);
    const auto open = Portal().FindSlot(state::kOpen);
    ASSERT_TRUE(waiting && open);
    const std::string cookie = SessionCookie(Portal());
    // A slot open from the start has no release and no rush.
    EXPECT_EQ(AskNumberList(cookie, open->slot, 2), Seen::Open);

    Portal().ReleaseAt(waiting->slot.sn, Portal().Now());
    EXPECT_EQ(AskNumberList(cookie, waiting->slot, 2), Seen::Busy);
    // The form and the registration go through while the number list is busy,
    // and do not use up its busy answers.
    const Patient& patient = Demo(0);
    const int number = Catalogue::NumberId(waiting->slot.sn, Portal().FreeNumbers(waiting->slot.sn).front());
    EXPECT_TRUE(MatchOne(pattern::kFormSelectedOption,
                         Read(RegistrationFormAddress(Hosts(), number, patient.clinicNumber, EpochMillis())),
                         0));
    EXPECT_NE(Register(ValuesFor(waiting->slot, number, patient)).find("成功"), std::string::npos);
    EXPECT_EQ(AskNumberList(cookie, waiting->slot, 4), Seen::Busy);
    EXPECT_EQ(AskNumberList(cookie, waiting->slot, 2), Seen::Busy);
    EXPECT_EQ(AskNumberList(cookie, waiting->slot, 2), Seen::Open);
    for (const RequestLogEntry& e : Portal().RequestLog())
        if (Lower(e.path) != "/action/numberwater.ashx") {
            EXPECT_EQ(e.fault, "none") << e.path;
        }
}

} // namespace
} // namespace quilora::portal::testing
