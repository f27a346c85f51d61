#pragma once
// Accounts the portal accepts at sign-in, each with the patients registered
// under its card.
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace quilora::portal {

struct Patient {
    std::string name;
    std::string relation; // e.g. 本人, 父亲
    std::string sex;
    std::string birthday; // YYYY-MM-DD
    int memberNumber = 0; // the number of the patient's "修改资料" link
    int clinicNumber = 0; // the number the booking sends as mid / memberid
    std::string identityNo;
};

struct Account {
    std::string cardNumber;
    std::string password;
    std::vector<Patient> patients;

    const Patient* FindByClinicNumber(int clinicNumber) const;
};

// The built-in account, always accepted.
Account DemoAccount();

// Reads the accounts file format (see AccountsFileHelp). Throws
// std::runtime_error naming the line on a malformed line.
std::vector<Account> ParseAccounts(std::istream& in);
std::vector<Account> LoadAccounts(const std::string& path);

// The format, for --help.
std::string_view AccountsFileHelp();

} // namespace quilora::portal
