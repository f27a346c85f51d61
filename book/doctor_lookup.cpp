#include "book/doctor_lookup.h"

#include "book/book_settings.h"
#include "catalogue/cascade.h"

namespace quilora::book {

namespace {

constexpr char kCrawlHint[] = "（目录可用 quilora-admin crawl all 更新）";

} // namespace

DoctorChoice LookUpDoctor(db::Query& q, int doctorId, std::optional<int> hospitalId) {
    DoctorChoice c;
    c.doctorId = doctorId;
    db::OpenQuery(q, "Select * from TDoctor Where DoctorID = ? ", {doctorId});
    if (q.Eof())
        throw UsageError("目录中没有医生 " + std::to_string(doctorId) + kCrawlHint);
    c.doctorText = catalogue::DoctorEntryText(q.FieldAsString("DoctorName"), q.FieldAsString("Title"));
    if (hospitalId) {
        c.hospitalId = *hospitalId;
    } else {
        const int classId = q.FieldAsInteger("ClassID");
        db::OpenQuery(q, "Select * from TClass Where ClassID = ? ", {classId});
        if (q.Eof())
            throw UsageError("目录中没有医生 " + std::to_string(doctorId) + " 的科室 " +
                             std::to_string(classId) + kCrawlHint);
        c.hospitalId = q.FieldAsInteger("HospitalID");
    }
    db::OpenQuery(q, "Select * from THospital Where HospitalID = ? ", {c.hospitalId});
    if (q.Eof())
        throw UsageError("目录中没有医院 " + std::to_string(c.hospitalId) + kCrawlHint);
    c.hospitalName = q.FieldAsString("HospitalName");
    return c;
}

} // namespace quilora::book
