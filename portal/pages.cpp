#include "portal/pages.h"

#include <chrono>
#include <cstdio>

#include "portal/calendar.h"

namespace quilora::portal::pages {

namespace {

constexpr std::string_view kEol = "\r\n";

std::string Num(long v) {
    return std::to_string(v);
}

std::string Head(std::string_view title, std::string_view charset) {
    std::string s;
    s += "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
         "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n";
    s += "<HTML xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<HEAD>\r\n";
    s += "\t<META http-equiv=\"Content-Type\" content=\"text/html; charset=";
    s += charset;
    s += "\" />\r\n\t<TITLE>";
    s += title;
    s += " - 预约挂号统一平台</TITLE>\r\n";
    s += "\t<LINK href=\"/css/Style.css\" rel=\"stylesheet\" type=\"text/css\" />\r\n";
    s += "\t<SCRIPT src=\"/js/jquery-1.4.2.min.js\" type=\"text/javascript\"></SCRIPT>\r\n";
    s += "</HEAD>\r\n<BODY>\r\n";
    s += "\t<DIV id=\"Header\"><A href=\"/\">首页</A> | <A href=\"/UserManage/\">个人中心</A></DIV>\r\n";
    return s;
}

constexpr std::string_view kFoot =
    "\t<DIV id=\"Footer\">版权所有 &copy; 预约挂号统一平台</DIV>\r\n</BODY>\r\n</HTML>\r\n";

std::string Page(std::string_view title, std::string_view charset, std::string_view body) {
    std::string s = Head(title, charset);
    s += body;
    s += kFoot;
    return s;
}

} // namespace

std::string_view HalfDayText(int timeid) {
    return timeid == 1 ? "上午" : "下午";
}

std::string_view WeekdayText(int weekid) {
    static constexpr std::string_view kDays[] = {"星期日", "星期一", "星期二", "星期三",
                                                 "星期四", "星期五", "星期六"};
    return weekid >= 1 && weekid <= 6 ? kDays[weekid] : kDays[0];
}

std::string_view ClinicTypeText(int type) {
    switch (type) {
    case 2:
        return "特需门诊";
    case 3:
        return "专家门诊";
    default:
        return "普通门诊";
    }
}

std::string Home(std::string_view charset) {
    return Page("首页", charset,
                "\t<DIV class=\"Welcome\">\r\n\t\t欢迎使用预约挂号统一平台（演示站点）。\r\n\t</DIV>\r\n");
}

std::string NotFound(std::string_view charset) {
    return Page("页面不存在", charset, "\t<DIV class=\"Error404\">您访问的页面不存在。</DIV>\r\n");
}

std::string ServerError() {
    return "<HTML>\r\n<HEAD><TITLE>运行时错误</TITLE></HEAD>\r\n<BODY bgcolor=\"white\">\r\n"
           "\t<H1>“/”应用程序中的服务器错误。<HR width=100% size=1 color=silver></H1>\r\n"
           "\t<H2><I>运行时错误</I></H2>\r\n"
           "\t<B>说明:</B> 服务器上出现应用程序错误。\r\n</BODY>\r\n</HTML>\r\n";
}

std::string ServerTooBusy() {
    return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\"\"http://www.w3.org/TR/html4/strict.dtd\">\r\n"
           "<HTML><HEAD><TITLE>Service Unavailable</TITLE>\r\n"
           "<META HTTP-EQUIV=\"Content-Type\" Content=\"text/html; charset=us-ascii\"></HEAD>\r\n"
           "<BODY><h2>Server Too Busy</h2>\r\n"
           "<hr><p>HTTP Error 503. The service is unavailable.</p>\r\n"
           "</BODY></HTML>\r\n";
}

std::string SignInRequired(std::string_view charset) {
    return Page("用户登录", charset,
                "\t<DIV class=\"LoginTip\">\r\n\t\t您尚未登录或登录已超时，请先登录后再进行操作。\r\n"
                "\t\t<A href=\"/Login.aspx\">立即登录</A>\r\n\t</DIV>\r\n"
                "\t<SCRIPT type=\"text/javascript\">\r\n\t\twindow.setTimeout(function () {\r\n"
                "\t\t\ttop.location.href = \"/Login.aspx\";\r\n\t\t}, 3000);\r\n\t</SCRIPT>\r\n");
}

std::string SignedIn(std::string_view next) {
    std::string s = "<SCRIPT type=\"text/javascript\">\r\n\tlocation.href = \"";
    s += next;
    s += "\";\r\n</SCRIPT>\r\n";
    return s;
}

std::string SignInRefused() {
    return "<SCRIPT type=\"text/javascript\">\r\n\talert(\"卡号或密码错误，请重新输入！\");\r\n"
           "\thistory.go(-1);\r\n</SCRIPT>\r\n";
}

std::string Patients(const Account& account, std::string_view charset) {
    std::string b;
    b += "\t<DIV class=\"UserList\">\r\n";
    b += "\t\t<DIV class=\"UserHead\">\r\n\t\t\t<SPAN style=\"width:100px;\">姓名</SPAN><SPAN>关系</SPAN>"
         "<SPAN>性别</SPAN><SPAN>出生日期</SPAN><SPAN>操作</SPAN><SPAN>诊疗卡</SPAN>\r\n\t\t</DIV>\r\n";
    for (const Patient& p : account.patients) {
        b += "\t\t<DIV class=\"UserRow\" onmouseover=\"this.style.background='#EAF4FF'\" "
             "onmouseout=\"this.style.background='#FFFFFF'\">\r\n";
        b += "\t\t\t<SPAN style=\"width:100px;\">" + p.name + "</SPAN>\r\n";
        b += "\t\t\t<SPAN>" + p.relation + "</SPAN>\r\n";
        b += "\t\t\t<SPAN>" + p.sex + "</SPAN>\r\n";
        b += "\t\t\t<SPAN>" + p.birthday + "</SPAN>\r\n";
        b += "\t\t\t<SPAN><A href=\"javascript:void(0)\" onclick=\"showForm('update','" +
             Num(p.memberNumber) + "')\">修改资料</A></SPAN>\r\n";
        b += "\t\t\t<SPAN style=\"width:80px\"><A href=\"javascript:void(0)\" onclick=\"Clinic(" +
             Num(p.clinicNumber) + ");\">诊疗卡</A></SPAN>\r\n";
        b += "\t\t</DIV>\r\n";
    }
    b += "\t</DIV>\r\n";
    return Page("常用就诊人", charset, b);
}

std::string DoctorPage(const Hospital& hospital, const Department& department, const Doctor& doctor,
                       std::span<const Slot> slots, std::string_view charset) {
    std::string b;
    b += "\t<SCRIPT type=\"text/javascript\">\r\n"
         "\t\tfunction NumberDiv(sn, date, timeid, type, weekid, url, state) {\r\n"
         "\t\t\t$(\"#NumberWater\").load(\"/Action/NumberWater.ashx?sn=\" + sn + \"&date=\" + date + "
         "\"&timeid=\" + "
         "timeid + \"&type=\" + type + \"&weekid=\" + weekid + \"&url=\" + url + \"&state=\" + state + "
         "\"&d=\" + "
         "new Date().getTime());\r\n"
         "\t\t}\r\n\t</SCRIPT>\r\n";
    b += "\t<DIV class=\"DoctorInfo\">\r\n";
    b += "\t\t<H2>" + doctor.name + "</H2>\r\n";
    b += "\t\t<P>职称：" + doctor.title + "</P>\r\n";
    b += "\t\t<P>医院：" + hospital.name + "&nbsp;&nbsp;科室：" + department.name + "</P>\r\n";
    b += "\t</DIV>\r\n";
    b += "\t<TABLE class=\"Schedule\" cellspacing=\"0\" cellpadding=\"0\">\r\n";
    b += "\t\t<TR><TH>日期</TH><TH>星期</TH><TH>时段</TH><TH>门诊类型</TH><TH>状态</TH></TR>\r\n";
    for (const Slot& s : slots) {
        static constexpr std::string_view kStateText[] = {"停诊", "已截止", "未放号", "已约满", "预约"};
        const std::string_view stateText = s.state >= 0 && s.state <= 4 ? kStateText[s.state] : "停诊";
        b += "\t\t<TR>\r\n";
        b += "\t\t\t<TD>" + s.date + "</TD><TD>";
        b += WeekdayText(s.weekid);
        b += "</TD><TD>";
        b += HalfDayText(s.timeid);
        b += "</TD><TD>";
        b += ClinicTypeText(s.type);
        b += "</TD>\r\n";
        b += "\t\t\t<TD><A href=\"javascript:void(0)\" class=\"State" + Num(s.state) +
             "\" onclick=\"NumberDiv('" + Num(s.sn) + "','" + s.date + "','" + Num(s.timeid) + "','" +
             Num(s.type) + "','" + Num(s.weekid) + "','" + s.url + "'," + Num(s.state) + ")\">";
        b += stateText;
        b += "</A></TD>\r\n\t\t</TR>\r\n";
    }
    b += "\t</TABLE>\r\n\t<DIV id=\"NumberWater\"></DIV>\r\n";
    return Page(doctor.name.empty() ? std::string("医生主页") : doctor.name + " 医生主页", charset, b);
}

std::string DoctorNotFound(std::string_view charset) {
    return Page("医生主页", charset, "\t<DIV class=\"Error\">未找到该医生的出诊信息。</DIV>\r\n");
}

std::string RegistrationUrlOf(const Slot& slot) {
    return "GhSn" + Num(slot.sn);
}

std::string NumberList(const Slot& slot, std::span<const int> freeNumberIndexes, int provinceId) {
    const std::string tail =
        "','" + RegistrationUrlOf(slot) + "'," + Num(provinceId) + "," + Num(slot.hospitalId);
    std::string s;
    s += "<DIV class=\"NumberWater\">\r\n\t<P class=\"Title\">" + slot.date + "&nbsp;";
    s += HalfDayText(slot.timeid);
    s += "&nbsp;可选号源：</P>\r\n\t<UL class=\"NumList\">\r\n";
    for (int k : freeNumberIndexes) {
        const std::string time = Catalogue::NumberTime(slot.timeid, k);
        s += "\t\t<LI><A href=\"javascript:void(0)\" title=\"第" + Num(k + 1) + "号\" onclick=\"GuaHaoDiv('" +
             Num(Catalogue::NumberId(slot.sn, k)) + tail + ",'" + time + "')\">" + Num(k + 1) + "号&nbsp;" +
             time + "</A></LI>\r\n";
    }
    s += "\t</UL>\r\n";
    // The quick pick is written with the older four-argument call the page script still accepts.
    if (!freeNumberIndexes.empty())
        s += "\t<P class=\"AutoPick\">不想挑选？<A href=\"javascript:void(0)\" onclick=\"GuaHaoDiv('" +
             Num(Catalogue::NumberId(slot.sn, freeNumberIndexes.front())) + tail +
             ")\">由系统分配号源</A></P>\r\n";
    s += "</DIV>\r\n";
    return s;
}

std::string Status(int code, std::string_view marker, std::string_view message) {
    std::string s = Num(code);
    s += '|';
    s += marker;
    s += '|';
    s += message;
    return s;
}

std::string OtherCardOf(const Patient& patient) {
    return "YB" + Num(patient.clinicNumber);
}

std::string RegistrationForm(const Slot& slot, int numberIndex, const Patient& patient,
                             const Hospital& hospital, const Doctor& doctor) {
    const std::optional<Date> birthday = ParseDate(patient.birthday);
    const Date b = birthday.value_or(Date{1980, 1, 1});
    std::string s;
    s += "<DIV class=\"RegCheck\">\r\n\t<TABLE class=\"RegTable\">\r\n";
    s += "\t\t<TR><TD>就诊人：</TD><TD>" + patient.name + "</TD></TR>\r\n";
    s += "\t\t<TR><TD>医院科室：</TD><TD>" + hospital.name + "&nbsp;" + doctor.name + "</TD></TR>\r\n";
    s += "\t\t<TR><TD>就诊时间：</TD><TD>" + slot.date + "&nbsp;";
    s += WeekdayText(slot.weekid);
    s += "&nbsp;";
    s += HalfDayText(slot.timeid);
    s += "&nbsp;" + Catalogue::NumberTime(slot.timeid, numberIndex) + "</TD></TR>\r\n";
    s += "\t\t<TR><TD>证件类型：</TD><TD>\r\n\t\t\t<SELECT id=\"ddlZhengJianType\" "
         "name=\"ddlZhengJianType\">\r\n"
         "\t\t\t\t<OPTION value=\"1\" selected=\"selected\" label=\"身份证\">身份证</OPTION>\r\n"
         "\t\t\t\t<OPTION value=\"2\">军官证</OPTION>\r\n\t\t\t\t<OPTION value=\"3\">护照</OPTION>\r\n"
         "\t\t\t\t<OPTION value=\"8\">其他</OPTION>\r\n\t\t\t</SELECT>\r\n\t\t</TD></TR>\r\n";
    s += "\t\t<TR><TD>证件号码：</TD><TD><INPUT type=\"text\" id=\"tbZhengJianID\" value=\"" +
         patient.identityNo + "\" size=\"24\" maxlength=\"18\" /></TD></TR>\r\n";
    s += "\t\t<TR><TD>出生日期：</TD><TD>\r\n\t\t\t<SELECT id=\"ddlYear\">\r\n";
    for (int y = 1900; y <= 2030; ++y) {
        s += "\t\t\t\t<OPTION value=\"" + Num(y) + "\"";
        s += y == b.year ? " selected=\"selected\">" : ">";
        s += Num(y) + "</OPTION>\r\n";
    }
    // The month list comes from an older template that pads the selected option.
    s += "\t\t\t</SELECT>年\r\n\t\t\t<SELECT id=\"ddlMonth\">\r\n";
    for (int m = 1; m <= 12; ++m) {
        s += "\t\t\t\t<OPTION value=\"" + Num(m) + "\"";
        s += m == b.month ? "  selected=\"selected\">" : ">";
        s += Num(m) + "</OPTION>\r\n";
    }
    s += "\t\t\t</SELECT>月\r\n\t\t\t<SELECT id=\"ddlDay\">\r\n";
    for (int d = 1; d <= 31; ++d) {
        s += "\t\t\t\t<OPTION value=\"" + Num(d) + "\"";
        s += d == b.day ? " selected=\"selected\">" : ">";
        s += Num(d) + "</OPTION>\r\n";
    }
    s += "\t\t\t</SELECT>日\r\n\t\t</TD></TR>\r\n";
    s += "\t\t<TR><TD>身份证号：</TD><TD><INPUT type=\"text\" id=\"tbIdentityNo\" value=\"" +
         patient.identityNo + "\" size=\"24\" /></TD></TR>\r\n";
    s += "\t</TABLE>\r\n";
    s += "\t<INPUT type=\"hidden\" id=\"hideOtherCard\" value=\"" + OtherCardOf(patient) + "\" />\r\n";
    s += "\t<INPUT type=\"button\" class=\"Btn\" value=\"确认预约\" onclick=\"Register()\" />\r\n";
    s += "</DIV>\r\n";
    return s;
}

std::string CityScript(const Catalogue& catalogue) {
    std::string s = "// Provinces and their cities\r\nvar ProvinceCity = [\r\n";
    const auto& provinces = catalogue.Provinces();
    for (std::size_t i = 0; i < provinces.size(); ++i) {
        const Province& p = provinces[i];
        s += "\t{Name:\"" + p.name + "\",\r\n\t\tId:" + Num(p.id) + ",\r\n\t\tCity:[";
        const auto cities = catalogue.CitiesOf(p.id);
        for (std::size_t j = 0; j < cities.size(); ++j) {
            s += "\r\n\t\t\t{CityName:\"" + cities[j].name + "\",Id:" + Num(cities[j].id) + "}";
            if (j + 1 < cities.size())
                s += ',';
        }
        s += cities.empty() ? "]}" : "\r\n\t\t]}";
        s += i + 1 < provinces.size() ? ",\r\n" : "\r\n";
    }
    s += "];\r\n";
    return s;
}

std::string HospitalScript(const Catalogue& catalogue) {
    std::string s = "// Hospitals of every city\r\nvar CityHospital = [\r\n";
    const auto& cities = catalogue.Cities();
    for (std::size_t i = 0; i < cities.size(); ++i) {
        const City& c = cities[i];
        s += "\t{Pid:" + Num(c.provinceId) + ",\r\n\t\tCid:" + Num(c.id) + ",\r\n\t\tHospital:[";
        const auto hospitals = catalogue.HospitalsOf(c.id);
        for (std::size_t j = 0; j < hospitals.size(); ++j) {
            s += "\r\n\t\t\t{Id:" + Num(hospitals[j].id) + ",Name:\"" + hospitals[j].name + "\"}";
            if (j + 1 < hospitals.size())
                s += ',';
        }
        s += "\r\n\t\t]}";
        s += i + 1 < cities.size() ? ",\r\n" : "\r\n";
    }
    s += "];\r\n";
    return s;
}

std::string DepartmentList(std::span<const Department> departments) {
    std::string s = "<UL class=\"DeptList\">\r\n";
    for (const Department& d : departments)
        s += "\t<LI><A href=\"javascript:void(0)\" onclick=\"SetDept('" + Num(d.id) + "','" + d.name +
             "')\">" + d.name + "</A></LI>\r\n";
    s += "</UL>\r\n";
    return s;
}

std::string DoctorList(std::span<const Doctor> doctors) {
    std::string s = "<UL class=\"DoctorList\">\r\n";
    for (const Doctor& d : doctors)
        s += "\t<LI><A class=\"DocName\" target=\"_blank\" HREF=\"Doctor.aspx?doctid=" + Num(d.id) + "\">" +
             d.name + "&nbsp;" + d.title + "</A></LI>\r\n";
    s += "</UL>\r\n";
    return s;
}

} // namespace quilora::portal::pages
