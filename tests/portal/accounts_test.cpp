// The accounts file.
#include <gtest/gtest.h>

#include <sstream>

#include "portal/accounts.h"

namespace quilora::portal {
namespace {

TEST(Accounts, TheExampleFileReads) {
    const std::vector<Account> accounts = LoadAccounts(QUILORA_ACCOUNTS_EXAMPLE);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].cardNumber, "6201000000000002");
    ASSERT_EQ(accounts[0].patients.size(), 3u);
    EXPECT_EQ(accounts[0].patients[1].name, "Anna  Zhou");
    EXPECT_EQ(accounts[0].patients[1].clinicNumber, 51002);
    EXPECT_FALSE(accounts[0].patients[1].identityNo.empty()); // made up when the file gives none
    EXPECT_EQ(accounts[1].password, "");
}

TEST(Accounts, MalformedLinesNameTheirLine) {
    const struct {
        std::string_view text;
        std::string_view says;
    } cases[] = {
        {"patient|A|本人|男|1990-01-01|1|2\n", "line 1"},
        {"card|62A|pw\n", "digits"},
        {"card|1|pw\npatient|A|本人|男|1990-13-01|1|2\n", "line 2"},
        {"card|1|pw\npatient|A|本人|男|1990-01-01|x|2\n", "positive"},
        {"# comment\n\nuser|1|pw\n", "line 3"},
        {"card|1\n", "card|"},
    };
    for (const auto& c : cases) {
        std::istringstream in{std::string(c.text)};
        try {
            ParseAccounts(in);
            ADD_FAILURE() << c.text;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}

TEST(Accounts, TheDemoAccountHasAPatientNameWithABlankAndCapitals) {
    const Account demo = DemoAccount();
    EXPECT_FALSE(demo.password.empty());
    EXPECT_TRUE(std::any_of(demo.patients.begin(), demo.patients.end(),
                            [](const Patient& p) { return p.name == "Li Ming"; }));
    EXPECT_EQ(demo.FindByClinicNumber(demo.patients[1].clinicNumber), &demo.patients[1]);
    EXPECT_EQ(demo.FindByClinicNumber(1), nullptr);
}

} // namespace
} // namespace quilora::portal
