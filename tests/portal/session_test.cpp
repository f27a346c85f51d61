// Sign-in, the session cookie and which addresses need it.
#include "portal_client.h"

namespace quilora::portal::testing {
namespace {

class SessionTest : public PortalTest {
protected:
    void SetUp() override {
        PortalOptions o = TestOptions();
        o.accounts.push_back(Account{"6201000000000009", "", {}}); // an empty password is a password too
        StartPortal(o);
    }

    struct Guarded {
        std::string name;
        PortalAddress address;
        std::string_view mark; // a pattern the signed-in answer matches
    };
    std::vector<Guarded> GuardedAddresses() {
        const auto open = Portal().FindSlot(state::kOpen);
        const int number = Catalogue::NumberId(open->slot.sn, Portal().FreeNumbers(open->slot.sn).front());
        const Patient& p = Portal().DemoAccount().patients[0];
        RegistrationValues reg; // any values: without a session nothing is looked at
        reg.id = number;
        reg.memberid = p.clinicNumber;
        return {
            {"patients", PatientsAddress(Hosts(), EpochMillis()), "修改资料"},
            {"number list", NumberListAddress(Hosts(), RefOf(open->slot), EpochMillis()),
             pattern::kNumberEntry},
            {"registration form", RegistrationFormAddress(Hosts(), number, p.clinicNumber, EpochMillis()),
             pattern::kFormSelectedOption},
            {"registration", RegistrationAddress(Hosts(), reg, EpochMillis()), R"(\|参数错误\|)"},
        };
    }
};

TEST_F(SessionTest, WrongCardOrPasswordIsRefusedWithErrorAndNoCookie) {
    const Account& demo = Portal().DemoAccount();
    const std::pair<std::string, std::string> refused[] = {
        {demo.cardNumber, demo.password + "x"},
        {demo.cardNumber, ""},
        {"6201000000000099", demo.password},
    };
    for (const auto& [card, password] : refused) {
        EXPECT_NE(SignIn(card, password).find("错误"), std::string::npos) << card << "/" << password;
        // Still signed out: the patient page asks for a sign-in.
        EXPECT_EQ(Read(PatientsAddress(Hosts(), EpochMillis())).find("修改资料"), std::string::npos);
    }
    EXPECT_FALSE(Portal().RequestLog().back().cookie);
}

TEST_F(SessionTest, SignedInAddressesNeedTheCookieAndPublicOnesDoNot) {
    for (const Guarded& g : GuardedAddresses()) {
        const std::string text = Read(g.address);
        EXPECT_NE(text.find("请先登录"), std::string::npos) << g.name;
        EXPECT_FALSE(MatchOne(g.mark, text, 0)) << g.name;
        EXPECT_EQ(text.find("成功"), std::string::npos) << g.name;
    }
    const Doctor& doctor = Portal().GetCatalogue().Doctors().front();
    EXPECT_TRUE(MatchOne(pattern::kScheduleSlot,
                         Read(DoctorPageAddress(Hosts(), doctor.hospitalId, doctor.id, EpochMillis())), 7));
    EXPECT_TRUE(MatchOne(pattern::kDoctor, Read(DoctorsAddress(Hosts(), doctor.departmentId)), 3));
    EXPECT_TRUE(MatchOne(pattern::kProvince, Read(CityScriptAddress(Hosts())), 3));

    const std::string answer = SignIn(Portal().DemoAccount().cardNumber, Portal().DemoAccount().password);
    EXPECT_EQ(answer.find("错误"), std::string::npos);
    for (const Guarded& g : GuardedAddresses())
        EXPECT_TRUE(MatchOne(g.mark, Read(g.address), 0)) << g.name;
}

TEST_F(SessionTest, RequestLogRecordsWhetherTheSessionCookieCame) {
    Read(CityScriptAddress(Hosts()));
    SignInDemo();
    Read(PatientsAddress(Hosts(), EpochMillis()));
    const auto log = Portal().RequestLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].host, "script");
    EXPECT_EQ(log[0].path, "/js/City.js");
    EXPECT_FALSE(log[0].cookie);
    EXPECT_EQ(log[1].path, "/Action/CardLogin.ashx");
    EXPECT_EQ(log[1].Param("cardnumber"), Portal().DemoAccount().cardNumber);
    EXPECT_EQ(log[1].query.find("cardnumber="), 0u);
    EXPECT_FALSE(log[1].cookie);
    EXPECT_EQ(log[2].path, "/UserManage/cyxx.aspx");
    EXPECT_TRUE(log[2].cookie);
    EXPECT_TRUE(log[2].signedIn);
    EXPECT_LE(log[0].timeMs, log[2].timeMs);
}

TEST_F(SessionTest, AFailedSignInKeepsTheEarlierSession) {
    SignInDemo();
    EXPECT_NE(SignIn(Portal().DemoAccount().cardNumber, "nope").find("错误"), std::string::npos);
    EXPECT_NE(Read(PatientsAddress(Hosts(), EpochMillis())).find("修改资料"), std::string::npos);
}

TEST_F(SessionTest, AnAccountWithAnEmptyPasswordSignsInWithAnEmptyPassword) {
    EXPECT_EQ(SignIn("6201000000000009", "").find("错误"), std::string::npos);
    const std::string text = Read(PatientsAddress(Hosts(), EpochMillis()));
    EXPECT_EQ(text.find("请先登录"), std::string::npos);
    EXPECT_FALSE(MatchOne(pattern::kPatient, ReplaceAll(text, " ", ""), 6)); // it has no patients
}

TEST(SessionFile, AccountsFromTheFileSignIn) {
    PortalOptions o = TestOptions();
    o.accountsFile = QUILORA_ACCOUNTS_EXAMPLE;
    DemoPortal portal(o);
    portal.Start();
    PortalHosts hosts{portal.BaseUrl(), portal.ScriptUrl(), "gbk"};
    HttpClient client;
    EXPECT_EQ(
        FetchPage(client, SignInAddress(hosts, "6201000000000002", "secret-2", EpochMillis())).find("错误"),
        std::string::npos);
    const std::string text =
        ReplaceAll(NormalisePage(FetchPage(client, PatientsAddress(hosts, EpochMillis()))), " ", "");
    const auto found = MatchAll(pattern::kPatient, text, 6);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[1][1], "annazhou");
    EXPECT_EQ(found[1][6], "51002");
}

// A portal restart in the middle of a run, as the option or the method causes it.
TEST(SessionLoss, EverySessionGoesAtOnceAndSigningInAgainWorks) {
    const Account other{"6201000000000009", "other", {}};
    const struct {
        std::string_view how;
        int forgetAfterPolls;
        bool callForget; // ForgetSessions() just before the third number list
    } cases[] = {{"option", 3, false}, {"method", 0, true}};
    for (const auto& c : cases) {
        PortalOptions o = TestOptions();
        o.forgetSessionsAfterPolls = c.forgetAfterPolls;
        o.accounts.push_back(other);
        DemoPortal portal(o);
        portal.Start();
        const PortalHosts hosts{portal.BaseUrl(), portal.ScriptUrl(), "gbk"};
        const auto open = portal.FindSlot(state::kOpen);
        ASSERT_TRUE(open);
        HttpClient demo, second;
        auto signIn = [&](HttpClient& client, const Account& a) {
            FetchPage(client, SignInAddress(hosts, a.cardNumber, a.password, EpochMillis()));
        };
        auto signedIn = [&](HttpClient& client) {
            return NormalisePage(FetchPage(client, PatientsAddress(hosts, EpochMillis()))).find("请先登录") ==
                   std::string::npos;
        };
        // Polls (state 2) and bookings (state 4) take turns: both count.
        int lists = 0;
        auto listWorks = [&] {
            const bool poll = ++lists % 2 == 1;
            const PortalAddress address = poll ? SlotPollAddress(hosts, RefOf(open->slot), 2, EpochMillis())
                                               : NumberListAddress(hosts, RefOf(open->slot), EpochMillis());
            const std::string text = NormalisePage(FetchPage(demo, address));
            return MatchOne(poll ? pattern::kSlotOpened : pattern::kNumberEntry, text, 4).has_value();
        };

        signIn(demo, portal.DemoAccount());
        signIn(second, other);
        EXPECT_TRUE(listWorks()) << c.how;
        EXPECT_TRUE(listWorks()) << c.how;
        if (c.callForget)
            portal.ForgetSessions();
        // The third one already finds the session gone.
        EXPECT_FALSE(listWorks()) << c.how;
        const RequestLogEntry third = portal.RequestLog().back();
        EXPECT_TRUE(third.cookie) << c.how;
        EXPECT_FALSE(third.signedIn) << c.how;
        EXPECT_FALSE(signedIn(demo)) << c.how;
        EXPECT_FALSE(signedIn(second)) << c.how;

        // A new sign-in gets a new session, and it lasts past the sixth number list.
        signIn(demo, portal.DemoAccount());
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(listWorks()) << c.how << ", number list " << lists + 1;
        EXPECT_TRUE(signedIn(demo)) << c.how;
        EXPECT_FALSE(signedIn(second)) << c.how;
    }
}

} // namespace
} // namespace quilora::portal::testing
