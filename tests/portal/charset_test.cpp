// Answers in GBK by default or UTF-8 on request; query values decoded in the same charset.
#include <httplib.h>

#include "portal/charset.h"
#include "portal_client.h"

namespace quilora::portal::testing {
namespace {

TEST(Charset, AnswersCarryTheirCharsetAndQueryValuesAreDecodedInIt) {
    for (const std::string charset : {"gbk", "utf-8"}) {
        PortalOptions o = TestOptions();
        o.charset = charset;
        o.accounts.push_back(Account{"6201000000000007", "口令Ab", {}});
        DemoPortal portal(o);
        portal.Start();

        httplib::Client raw("127.0.0.1", portal.Port());
        const auto res = raw.Get("/Action/GHTHosdept.ashx?hid=1001");
        ASSERT_TRUE(res) << charset;
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=" + charset);
        const std::string name = portal.GetCatalogue().DepartmentsOf(1001).front().name;
        EXPECT_NE(res->body.find(EncodeAnswer(name, charset)), std::string::npos) << charset;
        const auto script = httplib::Client("127.0.0.1", portal.ScriptPort()).Get("/js/City.js");
        ASSERT_TRUE(script);
        EXPECT_NE(script->get_header_value("Content-Type").find("charset=" + charset), std::string::npos);

        // The client percent-encodes the Chinese password in the portal's charset.
        PortalHosts hosts{portal.BaseUrl(), portal.ScriptUrl(), charset};
        HttpClient client;
        EXPECT_EQ(
            FetchPage(client, SignInAddress(hosts, "6201000000000007", "口令Ab", EpochMillis())).find("错误"),
            std::string::npos)
            << charset;
        EXPECT_EQ(portal.RequestLog().back().Param("password"), "口令Ab");
    }
}

TEST(Charset, AValueInTheWrongCharsetDoesNotSignIn) {
    PortalOptions o = TestOptions();
    o.accounts.push_back(Account{"6201000000000007", "口令", {}});
    DemoPortal portal(o);
    portal.Start();
    PortalHosts hosts{portal.BaseUrl(), portal.ScriptUrl(), "UTF-8"}; // the portal reads GBK
    HttpClient client;
    EXPECT_NE(FetchPage(client, SignInAddress(hosts, "6201000000000007", "口令", EpochMillis())).find("错误"),
              std::string::npos);
}

TEST(Charset, ConversionsRoundTripAndRefuseUnknownCharsets) {
    const std::string text = "预约挂号 Ab'1";
    EXPECT_EQ(DecodeQueryValue(EncodeAnswer(text, "gbk"), "gbk"), text);
    EXPECT_EQ(EncodeAnswer(text, "gbk").size(), 4u * 2 + 5);
    EXPECT_EQ(EncodeAnswer(text, "UTF-8"), text);
    EXPECT_THROW(CharsetConverter("no-such-charset", "UTF-8"), std::runtime_error);
    PortalOptions o = TestOptions();
    o.charset = "no-such-charset";
    EXPECT_THROW(DemoPortal{o}, std::runtime_error);
}

} // namespace
} // namespace quilora::portal::testing
