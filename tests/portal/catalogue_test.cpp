// The synthetic catalogue: sizes, reproducibility and the slot plan.
#include <gtest/gtest.h>

#include <set>

#include "portal/catalogue.h"

namespace quilora::portal {
namespace {

Catalogue Make(Scale scale, std::uint64_t seed) {
    return Catalogue::Generate({seed, scale, Date{2030, 3, 4}});
}

TEST(Catalogue, NationalScaleHasTheNationalSizes) {
    const Catalogue c = Make(Scale::National, 1);
    EXPECT_EQ(c.Provinces().size(), 34u);
    EXPECT_EQ(c.Cities().size(), 340u);
    EXPECT_EQ(c.Hospitals().size(), 3000u);
    EXPECT_EQ(c.Departments().size(), 60000u);
    EXPECT_EQ(c.Doctors().size(), 300000u);
    EXPECT_TRUE(c.CitiesOf(c.Provinces().back().id).empty());
    // The largest slot and number ids still fit the client's 32-bit integers.
    const Doctor& last = c.Doctors().back();
    const std::vector<Slot> slots = c.SlotsOf(last.id);
    ASSERT_FALSE(slots.empty());
    EXPECT_LT(std::int64_t(Catalogue::NumberId(slots.back().sn, Catalogue::kMaxNumbers - 1)), INT32_MAX);
}

TEST(Catalogue, DemoScaleIsSmallButHasEveryKindOfName) {
    const Catalogue c = Make(Scale::Demo, 1);
    EXPECT_LE(c.Provinces().size(), 6u);
    EXPECT_GE(c.Hospitals().size(), 12u);
    EXPECT_LE(c.Doctors().size(), 200u);
    EXPECT_TRUE(c.CitiesOf(c.Provinces().back().id).empty());
    auto hasDoctor = [&](auto pred) { return std::any_of(c.Doctors().begin(), c.Doctors().end(), pred); };
    EXPECT_TRUE(hasDoctor([](const Doctor& d) { return d.name.empty(); }));
    EXPECT_TRUE(hasDoctor([](const Doctor& d) { return d.title.empty(); }));
    EXPECT_TRUE(hasDoctor([](const Doctor& d) { return d.name.find('\'') != std::string::npos; }));
    EXPECT_TRUE(hasDoctor([](const Doctor& d) { return d.name.find(' ') != std::string::npos; }));
}

TEST(Catalogue, TheSameSeedGivesTheSameCatalogueAndAnotherSeedAnother) {
    const Catalogue a = Make(Scale::Demo, 5), b = Make(Scale::Demo, 5), c = Make(Scale::Demo, 6);
    auto names = [](const Catalogue& cat) {
        std::vector<std::string> out;
        for (const Doctor& d : cat.Doctors())
            out.push_back(d.name + "/" + d.title + "/" + std::to_string(cat.SlotsOf(d.id).size()));
        return out;
    };
    EXPECT_EQ(names(a), names(b));
    EXPECT_NE(names(a), names(c));
}

TEST(Catalogue, EachDoctorHasEveryStateInTimeOrderOverTwoWeeks) {
    const Catalogue c = Make(Scale::Demo, 2);
    for (const Doctor& d : c.Doctors()) {
        const std::vector<Slot> slots = c.SlotsOf(d.id);
        std::set<int> states;
        for (std::size_t i = 0; i < slots.size(); ++i) {
            states.insert(slots[i].state);
            EXPECT_EQ(c.FindSlot(slots[i].sn)->date, slots[i].date);
            if (i > 0) {
                EXPECT_LT(slots[i - 1].sn, slots[i].sn);
            }
            const int free = slots[i].numberCount - std::popcount(slots[i].initiallyTaken);
            if (slots[i].state == state::kOpen) {
                EXPECT_GE(free, 2);
            }
            if (slots[i].state == state::kFull) {
                EXPECT_EQ(free, 0);
            }
        }
        EXPECT_EQ(states, (std::set<int>{0, 1, 2, 3, 4})) << d.id;
        EXPECT_GE(slots.front().date, "2030-03-04");
        EXPECT_LE(slots.back().date, "2030-03-17");
        // Closed first, not yet released last.
        EXPECT_EQ(slots.front().state, state::kClosed);
        EXPECT_EQ(slots.back().state, state::kNotReleased);
    }
    EXPECT_FALSE(c.FindSlot(kFirstSn - 1));
    EXPECT_EQ(c.FindDoctor(kFirstDoctorId - 1), nullptr);
}

TEST(Calendar, WeekdaysAndDates) {
    EXPECT_EQ((Date{2030, 3, 4}).Weekday(), 1);  // a Monday
    EXPECT_EQ((Date{2030, 3, 10}).Weekday(), 7); // a Sunday
    EXPECT_EQ((Date{2030, 2, 27}).AddDays(2).Text(), "2030-03-01");
    EXPECT_FALSE(ParseDate("2030-02-30"));
    EXPECT_FALSE(ParseDate("2030-3-4x"));
    EXPECT_EQ(ParseDate("2030-03-04"), (Date{2030, 3, 4}));
}

} // namespace
} // namespace quilora::portal
