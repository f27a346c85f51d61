#include <gtest/gtest.h>
#include <httplib.h>

#include <stdexcept>
#include <thread>

#include "net/fetcher.h"
#include "net/portal_address.h"

namespace quilora {
namespace {

TEST(PortalAddress, OrdinaryAddressesAreTheTemplatesFilled) {
    const PortalHosts h;
    SlotRef slot;
    slot.sn = 1001;
    slot.date = "2011-03-16";
    slot.timeid = 1;
    slot.type = 3;
    slot.weekid = 3;
    slot.url = "abc";
    RegistrationValues v;
    v.id = 17;
    v.url = "u1";
    v.memberid = 778899;
    v.provinceid = 11;
    v.ghthospitalid = 22;
    v.identityNo = "110101198001020011";
    v.othercard = "oc";
    v.zhengjianid = "a123";
    const std::string p = "http://www.quilora.com";
    const std::string s = "http://www.quilora.com:8010";
    const struct {
        PortalAddress got;
        std::string expected;
    } cases[] = {
        {PatientsAddress(h, "99"), p + "/UserManage/cyxx.aspx?d=99"},
        {DoctorPageAddress(h, 12, 345, "99"), p + "/Doctor.aspx?id=12&doctid=345&d=99"},
        {NumberListAddress(h, slot, "99"),
         p + "/Action/"
             "NumberWater.ashx?sn=1001&date=2011-03-16&timeid=1&type=3&weekid=3&url=abc&state=4&d=99"},
        {SlotPollAddress(h, slot, 2, "99"),
         p + "/Action/"
             "NumberWater.ashx?sn=1001&date=2011-03-16&timeid=1&type=3&weekid=3&url=abc&state=2&d=99"},
        {RegistrationFormAddress(h, 17, 778899, "99"), p + "/Action/RegCheck.ashx?id=17&mid=778899&d=99"},
        {RegistrationAddress(h, v, "99"),
         p + "/Action/Register.ashx?up=0&cardup=1&id=17&url=u1&memberid=778899&provinceid=11&ghthospitalid=22"
             "&IdentityNo=110101198001020011&clinicCardNo=%B8%B4%D5%EF&othercard=oc&year=1980&month=1&day=1"
             "&zhengjiantype=8&zhengjianid=a123&d=99"},
        {CityScriptAddress(h), s + "/js/City.js"},
        {HospitalScriptAddress(h), s + "/js/Index.js"},
        {DepartmentsAddress(h, 9001), p + "/Action/GHTHosdept.ashx?hid=9001"},
        {DoctorsAddress(h, -3), p + "/Action/DoctorByHosdept.ashx?id=-3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got.url, c.expected);
        EXPECT_EQ(c.got.shown, c.expected);
    }
}

TEST(PortalAddress, PageTextCannotInjectQueryKeys) {
    SlotRef slot;
    slot.url = "x&state=4#";
    const PortalAddress a = SlotPollAddress(PortalHosts{}, slot, 2, "1");
    EXPECT_NE(a.url.find("&url=x%26state%3D4%23&state=2&d=1"), std::string::npos) << a.url;
}

TEST(PortalAddress, SignInHidesThePasswordOnlyInTheLog) {
    const PortalAddress a = SignInAddress(PortalHosts{}, "0123456", "a&b c#1", "99");
    EXPECT_EQ(a.url,
              "http://www.quilora.com/Action/CardLogin.ashx?cardnumber=0123456&password=a%26b%20c%231&d=99"
              "&url=/UserManage/");
    EXPECT_EQ(a.shown, "http://www.quilora.com/Action/"
                       "CardLogin.ashx?cardnumber=0123456&password=******&d=99&url=/UserManage/");
}

TEST(FillTemplate, RejectsMismatchedValues) {
    EXPECT_EQ(FillTemplate("/a?x=%d&y=%s&p=100%", "GBK", {"-5", "a b"}), "/a?x=-5&y=a%20b&p=100%");
    EXPECT_THROW(FillTemplate("/a?x=%s&y=%s", "GBK", {"1"}), std::logic_error);
    EXPECT_THROW(FillTemplate("/a?x=%s", "GBK", {"1", "2"}), std::logic_error);
    EXPECT_THROW(FillTemplate("/a?x=%d", "GBK", {"1&y=2"}), std::logic_error);
    EXPECT_THROW(FillTemplate("/a?x=%d", "GBK", {""}), std::logic_error);
}

// On the wire: the portal receives the real password intact, as one value.
TEST(PortalAddress, SignInPasswordArrivesIntact) {
    httplib::Server server;
    std::string password, card, clinic;
    std::size_t params = 0;
    server.Get("/Action/CardLogin.ashx", [&](const httplib::Request& req, httplib::Response& res) {
        password = req.get_param_value("password");
        card = req.get_param_value("cardnumber");
        params = req.params.size();
        res.set_content("ok", "text/html");
    });
    server.Get("/Action/Register.ashx", [&](const httplib::Request& req, httplib::Response& res) {
        clinic = req.get_param_value("clinicCardNo");
        res.set_content("ok", "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&] { server.listen_after_bind(); });
    {
        PortalHosts h;
        h.portalUrl = "http://127.0.0.1:" + std::to_string(port);
        HttpClient client;
        EXPECT_EQ(FetchPage(client, SignInAddress(h, "0123456", "a&b c#1", "99")), "ok");
        EXPECT_EQ(FetchPage(client, RegistrationAddress(h, RegistrationValues{}, "99")), "ok");
    }
    server.stop();
    thread.join();
    EXPECT_EQ(password, "a&b c#1");
    EXPECT_EQ(card, "0123456");
    EXPECT_EQ(params, 4u);
    EXPECT_EQ(clinic, "\xB8\xB4\xD5\xEF"); // 复诊 in GBK
}

} // namespace
} // namespace quilora
