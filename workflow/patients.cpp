#include "patients.h"

#include "common/normalise.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"
#include "workflow/int32_text.h"

namespace quilora {

namespace {

// The catalogue keeps both numbers in 32-bit integer columns, and the list reads
// them back as such: a wider one would be stored and then break every sign-in.
int PatientNumber(std::string_view digits) {
    try {
        return ParseInt32(digits);
    } catch (const ConversionError&) {
        throw QuiloraError("门户返回的就诊人编号无效: " + std::string(digits) + "，就诊人列表未更新。");
    }
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
        p.userId = PatientNumber(re.CaptureView(5));
        p.cardNo = PatientNumber(re.CaptureView(6));
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
