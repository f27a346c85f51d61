#include "patients.h"

#include <charconv>

#include "common/normalise.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"
#include "workflow/int32_text.h"

namespace quilora {

namespace {

long long ParseDigits(std::string_view digits) {
    long long value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc() || ptr != end)
        throw ConversionError("'" + std::string(digits) + "' 不是有效的整数值");
    return value;
}

} // namespace

std::vector<PatientRecord> ReadPatients(std::string_view page) {
    const std::string text = ReplaceAll(NormalisePage(page), " ", "");
    std::vector<PatientRecord> patients;
    ForEachMatch(pattern::kPatient, text, [&](const TRegExpr& re) {
        PatientRecord p;
        p.name = re.Capture(1);
        p.relation = re.Capture(2);
        p.sex = re.Capture(3);
        p.birthday = re.Capture(4);
        p.userId = ParseDigits(re.CaptureView(5));
        p.cardNo = ParseDigits(re.CaptureView(6));
        patients.push_back(std::move(p));
    });
    return patients;
}

std::vector<PatientEntry> CachedPatients(db::Query& query, const std::string& loginId) {
    db::OpenQuery(query, "Select * from TUser Where LoginID = ? ", {loginId});
    std::vector<PatientEntry> entries;
    for (; !query.Eof(); query.Next())
        entries.push_back({query.FieldAsString("UserName"), query.FieldAsInteger("CardNo")});
    return entries;
}

void ReplaceCachedPatients(db::Connection& connection, db::Command& command, const std::string& loginId,
                           const std::vector<PatientRecord>& patients) {
    db::Transaction transaction(connection);
    command.Execute(" Delete From TUser Where LoginID = ? ", {loginId});
    for (const PatientRecord& p : patients)
        command.Execute(" Insert into TUser (UserID, LoginID, UserName, Guanxi,Sex, Birthday,CardNO) "
                        "values(?, ?, ?, ?, ?, ?, ?) ",
                        {p.userId, loginId, p.name, p.relation, p.sex, p.birthday, p.cardNo});
    transaction.Commit();
}

} // namespace quilora
