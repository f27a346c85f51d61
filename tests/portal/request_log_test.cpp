// The request log's JSON lines read back as what was logged.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>

#include "portal/request_log.h"
#include "portal_client.h"

namespace quilora::portal::testing {
namespace {

using Json = nlohmann::ordered_json;

TEST(RequestLogJson, AwkwardTextParsesBackToTheSameValues) {
    const struct {
        std::string_view what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"quotes", R"(say "hi" and ")"},
        {"backslashes", R"(C:\dir\ \" \\)"},
        {"control characters", std::string("a\x01\tb\nc\rd\x1f\x7f", 11)},
        {"Chinese", "-1|未放号|该时段尚未开始放号，请稍后再试"},
        {"all at once", "\"\\\x02未放号\"\n"},
    };
    for (const auto& c : cases) {
        RequestLogEntry e;
        e.timeMs = 1893455999123;
        e.host = c.text;
        e.path = "/" + c.text;
        e.query = c.text + "&d=1";
        e.cookie = true;
        e.signedIn = false;
        e.fault = c.text;
        const std::string line = ToJsonLine(e);
        EXPECT_EQ(line.find_first_of("\n\r"), std::string::npos) << c.what; // one line each
        const Json j = Json::parse(line);
        std::vector<std::string> keys;
        for (const auto& [key, value] : j.items())
            keys.push_back(key);
        EXPECT_EQ(keys,
                  (std::vector<std::string>{"time", "host", "path", "query", "cookie", "signedIn", "fault"}))
            << c.what;
        EXPECT_EQ(j["time"].get<std::int64_t>(), e.timeMs) << c.what;
        EXPECT_EQ(j["host"], e.host) << c.what;
        EXPECT_EQ(j["path"], e.path) << c.what;
        EXPECT_EQ(j["query"], e.query) << c.what;
        EXPECT_EQ(j["cookie"], true) << c.what;
        EXPECT_EQ(j["signedIn"], false) << c.what;
        EXPECT_EQ(j["fault"], e.fault) << c.what;
    }
}

TEST(RequestLogJson, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    RequestLogEntry e;
    e.path = "/\xff未\xb7.aspx"; // a percent-decoded path may carry any bytes
    const Json j = Json::parse(ToJsonLine(e));
    EXPECT_EQ(j["path"].get<std::string>(), "/\uFFFD未\uFFFD.aspx");
}

// What the portal writes to --log, line by line, matches what it keeps in memory.
TEST(RequestLogFile, ThePortalWritesOneParsableLinePerRequest) {
    const std::string path = ::testing::TempDir() + "portal_request_log.jsonl";
    std::remove(path.c_str());
    PortalOptions o = TestOptions();
    o.logFile = path;
    o.clockOffset = std::chrono::hours(-5);
    {
        DemoPortal portal(o);
        portal.Start();
        SessionCookie(portal);
        RawGet(portal, "/a%22b%5Cc%01%E6%9C%AA.aspx?q=%22%5C");
        RawGet(portal, "/Action/DoctorByHosdept.ashx?id=10001", "ASP.NET_SessionId=stale");
        const std::vector<RequestLogEntry> kept = portal.RequestLog();
        portal.Stop();

        std::ifstream in(path);
        std::vector<Json> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(Json::parse(line));
        ASSERT_EQ(lines.size(), kept.size());
        ASSERT_EQ(kept.size(), 3u);
        EXPECT_EQ(kept[1].path, "/a\"b\\c\x01未.aspx");
        for (std::size_t i = 0; i < kept.size(); ++i) {
            EXPECT_EQ(lines[i]["time"], kept[i].timeMs) << i;
            EXPECT_EQ(lines[i]["host"], kept[i].host) << i;
            EXPECT_EQ(lines[i]["path"], kept[i].path) << i;
            EXPECT_EQ(lines[i]["query"], kept[i].query) << i;
            EXPECT_EQ(lines[i]["cookie"], kept[i].cookie) << i;
            EXPECT_EQ(lines[i]["signedIn"], kept[i].signedIn) << i;
            EXPECT_EQ(lines[i]["fault"], kept[i].fault) << i;
        }
        EXPECT_TRUE(lines[2]["cookie"]);
        EXPECT_FALSE(lines[2]["signedIn"]);
    }
    std::remove(path.c_str());
}

} // namespace
} // namespace quilora::portal::testing
