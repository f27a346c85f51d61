#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "common/errors.h"
#include "common/gbk.h"
#include "net/fetcher.h"

namespace quilora {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class RecordingLog : public LogTarget {
public:
    void LogUrl(std::string_view line) override {
        lines.emplace_back(line);
        ++logged;
    }
    void BeginWait() override { ++waits, ++depth; }
    void EndWait() override { --depth; }
    std::vector<std::string> lines;
    std::atomic<int> logged{0}; // read by the server thread
    int waits = 0;
    int depth = 0;
};

class FetcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Get("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "sid=s3cret; Path=/");
            res.set_content("welcome", "text/html");
        });
        server_.Get("/whoami", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("cookie=" + req.get_header_value("Cookie"), "text/plain");
        });
        server_.Get("/missing", [this](const httplib::Request&, httplib::Response& res) {
            ++hits_;
            res.status = 404;
            res.set_content("no such page", "text/html");
        });
        server_.Get("/moved",
                    [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/whoami"); });
        server_.Get("/flaky", [this](const httplib::Request&, httplib::Response& res) {
            if (hits_ == 0)
                loggedAtFirstRequest_ = log_.logged.load();
            // Two empty answers, then the page.
            if (++hits_ > 2)
                res.set_content("finally", "text/html");
        });
        server_.Get("/empty", [this](const httplib::Request&, httplib::Response&) { ++hits_; });
        server_.Get("/busy", [this](const httplib::Request&, httplib::Response& res) {
            ++hits_;
            res.status = 500;
            res.set_content("error page", "text/html");
        });
        server_.Get("/busy-twice", [this](const httplib::Request&, httplib::Response& res) {
            if (++hits_ <= 2) {
                res.status = 503;
                res.set_content("Server Too Busy", "text/html");
            } else {
                res.set_content("served", "text/html");
            }
        });
        server_.Get("/dated", [](const httplib::Request& req, httplib::Response& res) {
            res.set_header("Date", req.get_param_value("date"));
            res.set_content("dated", "text/html");
        });
        // Which connection each request came on.
        server_.Get("/port", [this](const httplib::Request& req, httplib::Response& res) {
            ++hits_;
            res.set_content(std::to_string(req.remote_port), "text/plain");
        });
        server_.Get("/gbk", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("\xB1\xB1\xBE\xA9\xD0\xAD\xBA\xCD", "text/html"); // 北京协和, no charset
        });
        server_.Get("/utf8", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("北京协和", "text/html; Charset=\"UTF-8\"");
        });
        server_.Get("/broken-utf8", [this](const httplib::Request&, httplib::Response& res) {
            ++hits_;
            res.set_content("ok\xFF\xFE", "text/html; charset=utf-8");
        });
        server_.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
            ++hits_;
            std::unique_lock lock(stallMutex_);
            stallCv_.wait_for(lock, 10s, [this] { return released_; });
            res.set_content("too late", "text/plain");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        client_ = std::make_unique<HttpClient>();
        client_->SetLimits(FetchMode::Interactive, {200ms, 400ms, 3, 1500ms});
        client_->SetLimits(FetchMode::Poll, {200ms, 300ms, 1, 300ms});
        client_->SetLogWindow(&log_);
    }

    void TearDown() override {
        client_.reset(); // closes the kept-alive connection so the server can stop at once
        {
            std::lock_guard lock(stallMutex_);
            released_ = true;
        }
        stallCv_.notify_all();
        server_.stop();
        thread_.join();
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::unique_ptr<HttpClient> client_;
    RecordingLog log_;
    std::atomic<int> hits_{0};
    std::atomic<int> loggedAtFirstRequest_{-1};
    std::mutex stallMutex_;
    std::condition_variable stallCv_;
    bool released_ = false;
};

TEST_F(FetcherTest, CookiesOfOneAnswerGoWithTheNext) {
    EXPECT_EQ(FetchPage(*client_, Url("/whoami")), "cookie=");
    EXPECT_EQ(FetchPage(*client_, Url("/login")), "welcome");
    EXPECT_EQ(FetchPage(*client_, Url("/whoami")), "cookie=sid=s3cret");
    // followed redirects carry them too
    EXPECT_EQ(FetchPage(*client_, Url("/moved")), "cookie=sid=s3cret");
    // another client of the run has a store of its own
    HttpClient other;
    EXPECT_EQ(FetchPage(other, Url("/whoami")), "cookie=");
}

TEST_F(FetcherTest, ErrorPageWithBodyIsTheAnswer) {
    EXPECT_EQ(FetchPage(*client_, Url("/missing")), "no such page");
}

TEST_F(FetcherTest, EmptyBodiesAreRetriedAndLoggedOnce) {
    EXPECT_EQ(FetchPage(*client_, PortalAddress{Url("/flaky"), "shown-address"}), "finally");
    EXPECT_EQ(hits_, 3);
    EXPECT_EQ(loggedAtFirstRequest_, 1) << "the address must be in the log before the first request";
    ASSERT_EQ(log_.lines.size(), 1u);
    EXPECT_EQ(log_.lines[0], "shown-address");
    EXPECT_EQ(log_.waits, 1);
    EXPECT_EQ(log_.depth, 0);
}

TEST_F(FetcherTest, DecodesByDeclaredCharsetElseGbk) {
    EXPECT_EQ(FetchPage(*client_, Url("/gbk")), "北京协和");
    EXPECT_EQ(FetchPage(*client_, Url("/utf8")), "北京协和");
    // A bad byte is a replacement character in a page that arrived, not a lost page.
    EXPECT_EQ(FetchPage(*client_, Url("/broken-utf8")), "ok\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(hits_, 1);
}

std::string HttpDateOf(std::time_t t) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a,%%20%d%%20%b%%20%Y%%20%H:%M:%S%%20GMT", &utc);
    return text;
}

TEST_F(FetcherTest, TheCallerLearnsTheStatusAndTheDateOfTheAnswer) {
    const FetchedPage missing = Fetch(*client_, PortalAddress{Url("/missing"), "x"});
    EXPECT_EQ(missing.text, "no such page");
    EXPECT_EQ(missing.status, 404);
    const std::time_t hourAgo = std::time(nullptr) - 3600;
    const FetchedPage dated = Fetch(*client_, PortalAddress{Url("/dated?date=" + HttpDateOf(hourAgo)), "x"});
    EXPECT_EQ(dated.status, 200);
    ASSERT_TRUE(dated.date.has_value());
    EXPECT_EQ(std::chrono::system_clock::to_time_t(*dated.date), hourAgo);
    EXPECT_FALSE(dated.dateImplausible);
    EXPECT_LE(dated.sent, dated.answered);
    EXPECT_FALSE(Fetch(*client_, PortalAddress{Url("/login"), "x"}).date.has_value());
}

// No clock runs a day apart: such a Date is not taken, and one beyond the
// clock's range (year 9999) must not overflow into a wrong offset.
TEST_F(FetcherTest, ADateADayOrMoreAwayIsNotTaken) {
    const std::time_t now = std::time(nullptr);
    for (const std::string& date : {std::string("Fri,%2031%20Dec%209999%2023:59:59%20GMT"),
                                   std::string("Thu,%2001%20Jan%201970%2000:00:00%20GMT"),
                                   HttpDateOf(now + 90000), HttpDateOf(now - 90000)}) {
        SCOPED_TRACE(date);
        const FetchedPage page = Fetch(*client_, PortalAddress{Url("/dated?date=" + date), "x"});
        EXPECT_FALSE(page.date.has_value());
        EXPECT_TRUE(page.dateImplausible);
    }
}

// Which answers a request takes, and the one line it gives up with otherwise.
TEST_F(FetcherTest, AnswerRulesDecideWhatIsTriedAgain) {
    struct Case {
        const char* name;
        std::string path;
        FetchMode mode;
        AnswerRule rule;
        int expectedHits;
        const char* expected; // the text taken, or the reason given up with
        FetchFailure failure;
    } cases[] = {
        {"404 taken as it is",
         "/missing",
         FetchMode::Interactive,
         AnswerRule::AnyAnswer,
         1,
         "no such page",
         {}},
        {"404 for the crawler", "/missing", FetchMode::Interactive, AnswerRule::NoErrorStatus, 3,
         "（服务器返回错误 404）", FetchFailure::ErrorStatus},
        {"500 for the crawler", "/busy", FetchMode::Interactive, AnswerRule::NoErrorStatus, 3,
         "（服务器返回错误 500）", FetchFailure::ErrorStatus},
        {"server trouble is sent again while booking",
         "/busy-twice",
         FetchMode::Booking,
         AnswerRule::NoErrorStatus,
         3,
         "served",
         {}},
        // A registration: a 503 is turned away unread, so it is sent again...
        {"a 503 did not take the registration",
         "/busy-twice",
         FetchMode::Booking,
         AnswerRule::Registration,
         3,
         "served",
         {}},
        // ...anything else may have taken it: once only.
        {"a 500 may have taken it", "/busy", FetchMode::Booking, AnswerRule::Registration, 1,
         "（服务器返回错误 500）", FetchFailure::ErrorStatus},
        {"a 404 may have taken it", "/missing", FetchMode::Booking, AnswerRule::Registration, 1,
         "（服务器返回错误 404）", FetchFailure::ErrorStatus},
        {"an empty answer may have taken it", "/empty", FetchMode::Booking, AnswerRule::Registration, 1,
         "（服务器返回了空白页面）", FetchFailure::Empty},
    };
    client_->SetLimits(FetchMode::Booking, {200ms, 400ms, 100, 1500ms});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hits_ = 0;
        try {
            const FetchedPage page = Fetch(*client_, PortalAddress{Url(c.path), "x"}, c.mode, c.rule);
            EXPECT_EQ(page.text, c.expected);
        } catch (const FetchError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(c.expected), std::string::npos) << text;
            EXPECT_EQ(e.Failure(), c.failure);
            EXPECT_EQ(e.MayHaveArrived(), c.rule == AnswerRule::Registration);
        }
        EXPECT_EQ(hits_, c.expectedHits);
    }
}

// A registration never rides a kept-alive connection (which libcurl would
// silently resend on when the server has closed it), and leaves none behind.
TEST_F(FetcherTest, ARegistrationHasAConnectionOfItsOwn) {
    const std::string kept1 = FetchPage(*client_, Url("/port"));
    const std::string kept2 = FetchPage(*client_, Url("/port"));
    EXPECT_EQ(kept1, kept2) << "ordinary requests keep their connection";
    const std::string reg1 =
        Fetch(*client_, PortalAddress{Url("/port"), "x"}, FetchMode::Booking, AnswerRule::Registration).text;
    const std::string after = FetchPage(*client_, Url("/port"));
    const std::string reg2 =
        Fetch(*client_, PortalAddress{Url("/port"), "x"}, FetchMode::Booking, AnswerRule::Registration).text;
    EXPECT_NE(reg1, kept2);
    EXPECT_NE(after, reg1) << "the registration's connection was reused";
    EXPECT_NE(reg2, after);
    EXPECT_NE(reg2, reg1);
}

// The user's 取消 (or Ctrl+C) ends a wait at once, but never a registration.
TEST_F(FetcherTest, TheCancelFlagEndsWaitsButNotARegistration) {
    std::atomic<bool> cancel{false};
    client_->SetCancelFlag(&cancel);
    client_->SetLimits(FetchMode::Interactive, {200ms, 5000ms, 3, 8000ms});
    std::thread raise([&] {
        std::this_thread::sleep_for(200ms);
        cancel = true;
    });
    const auto start = Clock::now();
    try {
        FetchPage(*client_, Url("/stall"));
        ADD_FAILURE() << "no error";
    } catch (const FetchError& e) {
        EXPECT_EQ(e.Failure(), FetchFailure::Cancelled);
        EXPECT_NE(std::string(e.what()).find("（已取消）"), std::string::npos) << e.what();
    }
    raise.join();
    EXPECT_LT(Clock::now() - start, 2000ms);
    EXPECT_EQ(hits_, 1);
    // raised before: nothing goes out...
    EXPECT_THROW(FetchPage(*client_, Url("/login")), FetchError);
    // ...but a registration is never cut off by it
    EXPECT_EQ(
        Fetch(*client_, PortalAddress{Url("/login"), "x"}, FetchMode::Booking, AnswerRule::Registration).text,
        "welcome");
    cancel = false;
    EXPECT_EQ(FetchPage(*client_, Url("/login")), "welcome");
}

// Each case gives up with FetchError after the bounded attempts, logs its
// address once and leaves the wait cursor balanced.
TEST_F(FetcherTest, GivesUpWithinBounds) {
    struct Case {
        const char* name;
        std::string path;
        FetchMode mode;
        int expectedHits;
        std::chrono::milliseconds maxTime;
    } cases[] = {
        {"always empty", "/empty", FetchMode::Interactive, 3, 1000ms},
        {"empty, poll", "/empty", FetchMode::Poll, 1, 500ms},
        // 3 attempts of 400 ms would pass the 1500 ms budget if it were not kept
        {"stalled", "/stall", FetchMode::Interactive, 3, 1900ms},
        {"stalled, poll", "/stall", FetchMode::Poll, 1, 700ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        hits_ = 0;
        log_.lines.clear();
        const auto start = Clock::now();
        try {
            FetchPage(*client_, Url(c.path), c.mode);
            ADD_FAILURE() << "no error";
        } catch (const FetchError& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("无法连接到Quilora服务器，请检查网络后重试。（", 0), 0u) << text;
            EXPECT_EQ(text.find('\n'), std::string::npos) << "one line: " << text;
        }
        EXPECT_LT(Clock::now() - start, c.maxTime);
        EXPECT_EQ(hits_, c.expectedHits);
        EXPECT_EQ(log_.lines.size(), 1u);
        EXPECT_EQ(log_.depth, 0);
    }
}

TEST_F(FetcherTest, StalledAttemptsShareTheTotalBudget) {
    client_->SetLimits(FetchMode::Interactive, {200ms, 400ms, 10, 1000ms});
    const auto start = Clock::now();
    try {
        FetchPage(*client_, Url("/stall"));
        ADD_FAILURE() << "no error";
    } catch (const FetchError& e) {
        EXPECT_EQ(e.Failure(), FetchFailure::TimedOut);
        // the time waited in all (about the 1 s budget), not the last attempt's 0.4 s
        EXPECT_NE(std::string(e.what()).find("（等待 1."), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(" 秒仍无应答）"), std::string::npos) << e.what();
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 1400ms);
    EXPECT_LE(hits_, 3);
}

// Interrupt, after the flag, wakes a wait at once: no progress call of libcurl
// is awaited. A registration under way says so, and is not woken.
TEST_F(FetcherTest, InterruptWakesAWaitAtOnceButNeverARegistration) {
    std::atomic<bool> cancel{false};
    client_->SetCancelFlag(&cancel);
    client_->SetLimits(FetchMode::Interactive, {1000ms, 8000ms, 3, 8000ms});
    client_->SetLimits(FetchMode::Booking, {1000ms, 800ms, 1, 800ms});
    std::atomic<bool> registering{false};
    // Raises the flag and wakes the client once the request has arrived.
    const auto cancelWhenArrived = [&] {
        while (hits_ == 0)
            std::this_thread::sleep_for(5ms);
        std::this_thread::sleep_for(50ms);
        registering = client_->RegistrationUnderWay();
        cancel = true;
        client_->Interrupt();
    };

    std::thread canceller(cancelWhenArrived);
    const auto start = Clock::now();
    try {
        FetchPage(*client_, Url("/stall"));
        ADD_FAILURE() << "no error";
    } catch (const FetchError& e) {
        EXPECT_EQ(e.Failure(), FetchFailure::Cancelled) << e.what();
    }
    canceller.join();
    EXPECT_LT(Clock::now() - start, 500ms) << "woken, not found at a progress call";
    EXPECT_FALSE(registering);
    EXPECT_EQ(hits_, 1);

    cancel = false;
    hits_ = 0;
    canceller = std::thread(cancelWhenArrived);
    try {
        Fetch(*client_, {Url("/stall"), Url("/stall")}, FetchMode::Booking, AnswerRule::Registration);
        ADD_FAILURE() << "no error";
    } catch (const FetchError& e) {
        EXPECT_EQ(e.Failure(), FetchFailure::TimedOut) << e.what();
        EXPECT_TRUE(e.MayHaveArrived());
    }
    canceller.join();
    EXPECT_TRUE(registering);
    EXPECT_FALSE(client_->RegistrationUnderWay());
    EXPECT_EQ(hits_, 1);

    // The client stays usable once the flag is lowered.
    cancel = false;
    EXPECT_EQ(FetchPage(*client_, Url("/login")), "welcome");
}

#ifndef _WIN32
// A port that is bound but not listening: every connection is refused.
class RefusingPort {
public:
    RefusingPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~RefusingPort() { close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int port() const { return port_; }

private:
    int fd_;
    int port_ = 0;
};

TEST_F(FetcherTest, RefusedConnectionGivesUpQuickly) {
    RefusingPort refusing;
    ASSERT_GT(refusing.port(), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/x";
    for (const FetchMode mode : {FetchMode::Interactive, FetchMode::Poll}) {
        log_.lines.clear();
        const auto start = Clock::now();
        try {
            FetchPage(*client_, url, mode);
            ADD_FAILURE() << "no error";
        } catch (const FetchError& e) {
            EXPECT_EQ(e.Failure(), FetchFailure::Refused);
            EXPECT_NE(std::string(e.what()).find("（服务器拒绝连接）"), std::string::npos) << e.what();
        }
        EXPECT_LT(Clock::now() - start, 1000ms);
        EXPECT_EQ(log_.lines, std::vector<std::string>{url});
    }
    // the client stays usable afterwards
    EXPECT_EQ(FetchPage(*client_, Url("/login")), "welcome");
}

// A refused connection never took a registration: it is sent again, spaced,
// until the budget is spent, and then nothing was booked.
TEST_F(FetcherTest, ARefusedRegistrationIsSentAgainSpaced) {
    RefusingPort refusing;
    const std::string url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/x";
    client_->SetLimits(FetchMode::Booking, {200ms, 400ms, 100, 1000ms});
    const auto start = Clock::now();
    try {
        Fetch(*client_, PortalAddress{url, "x"}, FetchMode::Booking, AnswerRule::Registration);
        ADD_FAILURE() << "no error";
    } catch (const FetchError& e) {
        EXPECT_EQ(e.Failure(), FetchFailure::Refused);
        EXPECT_FALSE(e.MayHaveArrived());
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 900ms) << "tried until the budget";
    EXPECT_LT(took, 1500ms);
}
#endif

TEST(FetchLimits, DefaultsKeepInteractiveNearTwentySecondsAndPollNearThree) {
    const FetchLimits interactive = LimitsFor(FetchMode::Interactive);
    const FetchLimits poll = LimitsFor(FetchMode::Poll);
    EXPECT_LE(interactive.totalBudget, 20s);
    EXPECT_GE(interactive.attempts, 2);
    EXPECT_EQ(poll.attempts, 1);
    EXPECT_LE(poll.totalBudget, 3s);
    EXPECT_LE(poll.attemptTimeout, poll.totalBudget);
    HttpClient client;
    EXPECT_EQ(client.Limits(FetchMode::Poll).totalBudget, poll.totalBudget);
}

} // namespace
} // namespace quilora
