#include "portal/accounts.h"

#include <charconv>
#include <fstream>
#include <stdexcept>

#include "portal/calendar.h"

namespace quilora::portal {

namespace {

std::vector<std::string> SplitFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = line.find('|', start);
        fields.emplace_back(
            line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos)
            return fields;
        start = bar + 1;
    }
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool ToPositive(std::string_view text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size() && value > 0;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// An identity number that agrees with the birthday, for fixtures that give none.
std::string MadeUpIdentity(const std::string& birthday, int clinicNumber) {
    std::string digits;
    for (char ch : birthday)
        if (ch != '-')
            digits += ch;
    const std::string tail = std::to_string(1000 + clinicNumber % 9000);
    return "110101" + digits + tail;
}

} // namespace

const Patient* Account::FindByClinicNumber(int clinicNumber) const {
    for (const Patient& p : patients)
        if (p.clinicNumber == clinicNumber)
            return &p;
    return nullptr;
}

Account DemoAccount() {
    Account a;
    a.cardNumber = "6201000000000001";
    a.password = "demo1234";
    a.patients = {
        Patient{"张晓燕", "本人", "女", "1985-03-14", 30001, 50001, "11010119850314002X"},
        Patient{"Li Ming", "儿子", "男", "2012-11-05", 30002, 50002, "110101201211050031"},
        Patient{"王建国", "父亲", "男", "1956-07-21", 30003, 50003, "110101195607210017"},
    };
    return a;
}

std::vector<Account> ParseAccounts(std::istream& in) {
    std::vector<Account> accounts;
    std::string raw;
    int lineNo = 0;
    auto fail = [&lineNo](const std::string& why) {
        throw std::runtime_error("accounts line " + std::to_string(lineNo) + ": " + why);
    };
    while (std::getline(in, raw)) {
        ++lineNo;
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#')
            continue;
        std::vector<std::string> f = SplitFields(line);
        for (std::string& field : f)
            field = std::string(Trim(field));
        if (f[0] == "card") {
            if (f.size() != 3)
                fail("expected card|NUMBER|PASSWORD");
            if (!AllDigits(f[1]))
                fail("the card number must be digits");
            accounts.push_back(Account{f[1], f[2], {}});
        } else if (f[0] == "patient") {
            if (accounts.empty())
                fail("a patient line needs a card line before it");
            if (f.size() != 7 && f.size() != 8)
                fail("expected patient|NAME|RELATION|SEX|BIRTHDAY|MEMBER|CLINIC[|IDENTITY]");
            Patient p;
            p.name = f[1];
            p.relation = f[2];
            p.sex = f[3];
            p.birthday = f[4];
            if (!ParseDate(p.birthday))
                fail("the birthday must read YYYY-MM-DD");
            if (!ToPositive(f[5], p.memberNumber) || !ToPositive(f[6], p.clinicNumber))
                fail("member and clinic numbers must be positive integers");
            p.identityNo = f.size() == 8 && !f[7].empty() ? f[7] : MadeUpIdentity(p.birthday, p.clinicNumber);
            accounts.back().patients.push_back(std::move(p));
        } else {
            fail("unknown record '" + f[0] + "'");
        }
    }
    return accounts;
}

std::vector<Account> LoadAccounts(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read accounts file " + path);
    return ParseAccounts(in);
}

std::string_view AccountsFileHelp() {
    return "Accounts file: UTF-8 text, one record per line, fields separated by '|', '#' starts a comment.\n"
           "  card|CARD_NUMBER|PASSWORD\n"
           "  patient|NAME|RELATION|SEX|YYYY-MM-DD|MEMBER_NUMBER|CLINIC_NUMBER[|IDENTITY_NUMBER]\n"
           "Patient lines belong to the card line above them. The clinic number is what a booking\n"
           "sends as mid/memberid. The built-in demo account is always accepted besides.";
}

} // namespace quilora::portal
