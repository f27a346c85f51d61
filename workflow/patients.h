#pragma once
// The account's patients: read from the portal's patient page and cached per
// card number in TUser.
#include <string>
#include <string_view>
#include <vector>

#include "common/database.h"

namespace quilora {

// One row of the patient page; texts normalised and without blanks.
struct PatientRecord {
    std::string name;     // UserName
    std::string relation; // Guanxi
    std::string sex;
    std::string birthday;
    int userId = 0; // the number of the row's "修改资料" link
    int cardNo = 0; // the number of the row's clinic link, sent as memberid
};

// Reads the patient page as fetched: normalised, every plain blank removed,
// then one record per patient row in page order. A number beyond 32 bits
// refuses the whole page (QuiloraError).
std::vector<PatientRecord> ReadPatients(std::string_view page);

// An entry of the patient list.
struct PatientEntry {
    std::string name;
    int cardNo = 0;
};

// The cached patients of an account, in the order the database gives them.
std::vector<PatientEntry> CachedPatients(db::Query& query, const std::string& loginId);

// Replaces the account's cached patients by these in one transaction: a
// failing insert leaves the old rows in place.
void ReplaceCachedPatients(db::Connection& connection, db::Command& command, const std::string& loginId,
                           const std::vector<PatientRecord>& patients);

} // namespace quilora
