#pragma once
// Test side of the portal: a demo portal on ephemeral ports, read the way the
// client reads it (its fetcher, normalisation, scanner and pattern constants).
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/fetcher.h"
#include "common/normalise.h"
#include "common/stamp.h"
#include "portal/demo_portal.h"
#include "scan/patterns.h"
#include "net/portal_address.h"
#include "scan/tregexpr.h"

namespace quilora::portal::testing {

using Groups = std::vector<std::string>; // group 0 first

inline std::vector<Groups> MatchAll(std::string_view pattern, std::string_view text, int groups) {
    std::vector<Groups> all;
    ForEachMatch(pattern, text, [&](const TRegExpr& re) {
        Groups g;
        for (int i = 0; i <= groups; ++i)
            g.push_back(re.Capture(i));
        all.push_back(std::move(g));
    });
    return all;
}

inline std::optional<Groups> MatchOne(std::string_view pattern, std::string_view text, int groups) {
    TRegExpr re;
    re.SetExpression(pattern);
    re.SetInputString(text);
    if (!re.Exec())
        return std::nullopt;
    Groups g;
    for (int i = 0; i <= groups; ++i)
        g.push_back(re.Capture(i));
    return g;
}

inline std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    return out;
}

// Small, fast options: ephemeral ports, a fixed first day, no release by polls.
inline PortalOptions TestOptions() {
    PortalOptions o;
    o.port = 0;
    o.scriptPort = 0;
    o.firstDay = Date{2030, 3, 4};
    o.releaseAfterPolls = 0;
    o.threads = 4;
    return o;
}

inline SlotRef RefOf(const Slot& s) {
    return SlotRef{s.sn, s.date, s.timeid, s.type, s.weekid, Lower(s.url)};
}

// The path and query of an address on the portal's main host.
inline std::string TargetOf(const DemoPortal& portal, const PortalAddress& address) {
    return address.url.substr(portal.BaseUrl().size());
}

// One GET on its own connection, for what the client's fetcher does not show:
// the status and the headers. No answer on a dropped connection.
inline httplib::Result RawGet(const DemoPortal& portal, const std::string& target,
                              const std::string& cookie = {}) {
    httplib::Client c("127.0.0.1", portal.Port());
    c.set_read_timeout(std::chrono::seconds(5));
    httplib::Headers headers;
    if (!cookie.empty())
        headers.emplace("Cookie", cookie);
    return c.Get(target.c_str(), headers);
}

// Signs the demo account in; the Cookie value that carries its session.
inline std::string SessionCookie(const DemoPortal& portal) {
    PortalHosts hosts{portal.BaseUrl(), portal.ScriptUrl(), portal.Options().charset};
    const Account& a = portal.DemoAccount();
    const auto res =
        RawGet(portal, TargetOf(portal, SignInAddress(hosts, a.cardNumber, a.password, EpochMillis())));
    const std::string set = res ? res->get_header_value("Set-Cookie") : std::string();
    return set.substr(0, set.find(';'));
}

class PortalTest : public ::testing::Test {
protected:
    void StartPortal(PortalOptions options = TestOptions()) {
        portal_ = std::make_unique<DemoPortal>(std::move(options));
        portal_->Start();
        hosts_.portalUrl = portal_->BaseUrl();
        hosts_.scriptUrl = portal_->ScriptUrl();
        hosts_.charset = portal_->Options().charset;
    }
    void TearDown() override {
        if (portal_)
            portal_->Stop();
    }

    DemoPortal& Portal() { return *portal_; }
    const PortalHosts& Hosts() const { return hosts_; }

    // Fetched and normalised, as every reader of the client does.
    std::string Read(const PortalAddress& address) { return NormalisePage(FetchPage(client_, address)); }
    std::string Raw(const PortalAddress& address) { return FetchPage(client_, address); }

    std::string SignIn(const std::string& card, const std::string& password) {
        return FetchPage(client_, SignInAddress(hosts_, card, password, EpochMillis()));
    }
    void SignInDemo() {
        const Account& a = portal_->DemoAccount();
        SignIn(a.cardNumber, a.password);
    }

    std::unique_ptr<DemoPortal> portal_;
    PortalHosts hosts_;
    HttpClient client_;
};

} // namespace quilora::portal::testing
