#pragma once
// Test side of the portal: a demo portal on ephemeral ports, read the way the
// client reads it (its fetcher, normalisation, scanner and pattern constants).
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/fetcher.h"
#include "common/normalise.h"
#include "common/stamp.h"
#include "portal/demo_portal.h"
#include "scan/patterns.h"
#include "scan/portal_address.h"
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
