#include "portal/demo_portal.h"

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "portal/charset.h"
#include "portal/faults.h"
#include "portal/http_date.h"
#include "portal/http_server.h"
#include "portal/pages.h"
#include "portal/seeded.h"

namespace quilora::portal {

namespace {

using Clock = std::chrono::system_clock;
constexpr std::string_view kSessionCookie = "ASP.NET_SessionId";
constexpr std::string_view kLoopback = "127.0.0.1";
constexpr std::string_view kNumberListPath = "/action/numberwater.ashx";

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    return out;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return LowerAscii(a) == LowerAscii(b);
}

std::optional<int> ToInt(std::string_view text) {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return v;
}

std::string SessionTokenOf(const httplib::Request& req) {
    const std::string header = req.get_header_value("Cookie");
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        std::string_view part(header.data() + pos, end - pos);
        while (!part.empty() && part.front() == ' ')
            part.remove_prefix(1);
        if (part.size() > kSessionCookie.size() && part.starts_with(kSessionCookie) &&
            part[kSessionCookie.size()] == '=')
            return std::string(part.substr(kSessionCookie.size() + 1));
        pos = end + 1;
    }
    return {};
}

struct SlotRuntime {
    std::uint32_t taken = 0;
    int polls = 0;
    int releaseAfterPolls = 0;
    std::optional<Clock::time_point> releaseAt;
    bool released = false; // by polls
    int busyAnswers = 0;   // given since the release
};

// What a request handler works with: decoded parameters and the session.
struct Call {
    const httplib::Request& req;
    httplib::Response& res;
    std::map<std::string, std::string> params; // keys lower-cased, values UTF-8
    const Account* account = nullptr;          // the signed-in account, if any
    Clock::time_point arrival;                 // on the portal clock
    bool busy = false;                         // answered "Server Too Busy"

    std::string Get(const std::string& key) const {
        const auto it = params.find(key);
        return it == params.end() ? std::string() : it->second;
    }
    std::optional<int> Int(const std::string& key) const { return ToInt(Get(key)); }
};

std::string_view RegisterFaultName(RegisterFault::Kind kind) {
    switch (kind) {
    case RegisterFault::Kind::Error500:
        return "register-500";
    case RegisterFault::Kind::Busy503:
        return "register-503";
    case RegisterFault::Kind::Drop:
        return "register-drop";
    case RegisterFault::Kind::Empty:
        return "register-empty";
    case RegisterFault::Kind::Slow:
        return "register-slow";
    case RegisterFault::Kind::Mixed:
        return "register-mixed";
    case RegisterFault::Kind::None:
        break;
    }
    return "none";
}

} // namespace

std::optional<RegisterFault> ParseRegisterFault(const std::string& text) {
    static const std::map<std::string, RegisterFault::Kind> kKinds{
        {"500", RegisterFault::Kind::Error500}, {"503", RegisterFault::Kind::Busy503},
        {"drop", RegisterFault::Kind::Drop},    {"empty", RegisterFault::Kind::Empty},
        {"slow", RegisterFault::Kind::Slow},    {"mixed", RegisterFault::Kind::Mixed}};
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
        const std::size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
        if (colon == std::string::npos)
            break;
        from = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 3 || !kKinds.count(parts[0]) ||
        (parts[1] != "before" && parts[1] != "after"))
        return std::nullopt;
    RegisterFault f;
    f.kind = kKinds.at(parts[0]);
    f.afterTaking = parts[1] == "after";
    if (parts.size() == 3) {
        const auto count = ToInt(parts[2]);
        if (!count || *count < 1)
            return std::nullopt;
        f.count = *count;
    }
    // A server that turns a request away does so before handling it.
    if (f.kind == RegisterFault::Kind::Busy503 && f.afterTaking)
        return std::nullopt;
    return f;
}

struct DemoPortal::Impl {
    PortalOptions options;
    Catalogue catalogue;
    std::vector<Account> accounts;
    FaultPlan faults;
    portal::RequestLog log;
    std::string contentType;
    std::string scriptType;
    std::string cityScript; // encoded once: the largest answers
    std::string hospitalScript;

    HttpServer mainServer;
    HttpServer scriptServer;
    std::thread mainThread;
    std::thread scriptThread;
    std::atomic<bool> mainFinished{false};
    std::atomic<bool> scriptFinished{false};
    int port = 0;
    int scriptPort = 0;
    bool started = false;

    std::atomic<std::uint64_t> arrivals{0};
    std::atomic<int> registrations{0};
    const Clock::time_point createdAt = Clock::now();
    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;

    mutable std::mutex sessionMutex;
    std::unordered_map<std::string, std::size_t> sessions; // token -> account index
    std::mt19937_64 tokenSource{std::random_device{}()};
    std::int64_t numberListRequests = 0;

    mutable std::mutex slotMutex;
    std::unordered_map<int, SlotRuntime> slots;
    std::vector<Booking> bookings;

    explicit Impl(PortalOptions o);

    Clock::time_point Now() const { return Clock::now() + options.clockOffset; }
    std::string DateHeader() const {
        switch (options.dateMode) {
        case DateMode::Frozen:
            return HttpDate(createdAt + options.clockOffset);
        case DateMode::HalfSpeed:
            return HttpDate(createdAt + options.clockOffset + (Clock::now() - createdAt) / 2);
        case DateMode::FarFuture:
            return "Fri, 31 Dec 9999 23:59:59 GMT";
        case DateMode::Epoch:
            return "Thu, 01 Jan 1970 00:00:00 GMT";
        case DateMode::Normal:
            break;
        }
        return HttpDate(Now());
    }
    httplib::Server::HandlerResponse ServeRegisterFault(RegisterFault::Kind kind, Call& call);
    RegisterFault::Kind DrawRegisterFault() {
        const RegisterFault& f = options.registerFault;
        const int n = registrations.fetch_add(1);
        if (f.count > 0 && n >= f.count)
            return RegisterFault::Kind::None;
        const double u = SeededStream(Mix(options.seed, 0x5E6157, std::uint64_t(n))).Unit();
        if (u >= f.rate)
            return RegisterFault::Kind::None;
        if (f.kind != RegisterFault::Kind::Mixed)
            return f.kind;
        static constexpr RegisterFault::Kind kMixed[] = {
            RegisterFault::Kind::Error500, RegisterFault::Kind::Drop, RegisterFault::Kind::Empty};
        return kMixed[std::min(2, int(u / f.rate * 3))];
    }

    // --- slot state, slotMutex held ---
    SlotRuntime& RuntimeOf(const Slot& base) {
        auto [it, fresh] = slots.try_emplace(base.sn);
        if (fresh) {
            it->second.taken = base.initiallyTaken;
            it->second.releaseAfterPolls = options.releaseAfterPolls;
            it->second.releaseAt = options.releaseAt;
        }
        return it->second;
    }
    // `at` is the request's arrival, so a delayed answer does not open a slot early.
    static bool Released(const Slot& base, const SlotRuntime& rt, Clock::time_point at) {
        return base.state != state::kNotReleased || rt.released || (rt.releaseAt && at >= *rt.releaseAt);
    }
    static std::uint32_t AllNumbers(const Slot& base) { return (1u << base.numberCount) - 1; }
    static int StateAt(const Slot& base, const SlotRuntime& rt, Clock::time_point at) {
        switch (base.state) {
        case state::kOpen:
        case state::kFull:
        case state::kNotReleased:
            if (!Released(base, rt, at))
                return state::kNotReleased;
            return (rt.taken & AllNumbers(base)) == AllNumbers(base) ? state::kFull : state::kOpen;
        default:
            return base.state;
        }
    }
    std::vector<int> FreeOf(const Slot& base, const SlotRuntime& rt) const {
        std::vector<int> free;
        for (int k = 0; k < base.numberCount; ++k)
            if ((rt.taken & (1u << k)) == 0)
                free.push_back(k);
        return free;
    }
    std::vector<Slot> SlotsAt(int doctorId, Clock::time_point at) {
        std::vector<Slot> list = catalogue.SlotsOf(doctorId);
        const std::lock_guard lock(slotMutex);
        for (Slot& s : list)
            s.state = StateAt(s, RuntimeOf(s), at);
        return list;
    }

    // --- serving ---
    bool WaitUnlessStopped(int ms) {
        std::unique_lock lock(stopMutex);
        return !stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    }
    void Answer(httplib::Response& res, std::string_view utf8, const std::string& type) {
        res.status = 200;
        res.set_content(EncodeAnswer(utf8, options.charset), type);
    }
    httplib::Server::HandlerResponse Serve(bool scriptHost, const httplib::Request& req,
                                           httplib::Response& res);
    const Account* SessionOf(const std::string& token, bool numberList);
    void Route(bool scriptHost, Call& call);
    void RouteOrFail(bool scriptHost, Call& call);

    void SignIn(Call& call);
    void Patients(Call& call);
    void DoctorPage(Call& call);
    void NumberList(Call& call);
    void RegistrationForm(Call& call);
    void Register(Call& call);
};

DemoPortal::Impl::Impl(PortalOptions o)
    : options(std::move(o)), catalogue(Catalogue::Generate(CatalogueOptions{
                                 options.seed, options.scale, options.firstDay.value_or(Today())})),
      faults(options.seed, options.faults), log(options.logFile) {
    if (!IsUtf8(options.charset))
        CharsetConverter(options.charset, "UTF-8"); // refuses an unknown charset now rather than at the first answer
    accounts.push_back(portal::DemoAccount());
    if (!options.accountsFile.empty())
        for (Account& a : LoadAccounts(options.accountsFile))
            accounts.push_back(std::move(a));
    for (const Account& a : options.accounts)
        accounts.push_back(a);
    const std::string cs = LowerAscii(options.charset);
    contentType = "text/html; charset=" + cs;
    scriptType = "application/x-javascript; charset=" + cs;
    cityScript = EncodeAnswer(pages::CityScript(catalogue), options.charset);
    hospitalScript = EncodeAnswer(pages::HospitalScript(catalogue), options.charset);

    for (HttpServer* server : {&mainServer, &scriptServer}) {
        const bool scriptHost = server == &scriptServer;
        // Without SO_REUSEPORT (the library's default adds it) a second portal on
        // the same port fails to start instead of sharing the port.
        server->set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
        });
        server->set_keep_alive_max_count(1000);
        server->set_keep_alive_timeout(5);
        server->set_read_timeout(5);
        server->set_write_timeout(5);
        const std::size_t threads = std::size_t(std::max(2, options.threads));
        server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        server->set_pre_routing_handler(
            [this, scriptHost](const httplib::Request& req, httplib::Response& res) {
                return Serve(scriptHost, req, res);
            });
        // Runs for every answer written, the library's own 400s included.
        server->set_post_routing_handler([this](const httplib::Request&, httplib::Response& res) {
            res.set_header("Date", DateHeader());
        });
    }
}

httplib::Server::HandlerResponse DemoPortal::Impl::Serve(bool scriptHost, const httplib::Request& req,
                                                         httplib::Response& res) {
    const Clock::time_point arrival = Now();
    const std::uint64_t ordinal = arrivals.fetch_add(1);
    Fault fault = faults.Decide(ordinal);
    const bool numberList = !scriptHost && LowerAscii(req.path) == kNumberListPath;

    const std::string lowerPath = LowerAscii(req.path);
    RegisterFault::Kind registerFault = RegisterFault::Kind::None;
    int forcedStatus = 0;
    if (!scriptHost && fault == Fault::None) {
        if (const auto it = options.errorPaths.find(lowerPath); it != options.errorPaths.end())
            forcedStatus = it->second;
        else if (lowerPath == "/action/register.ashx" &&
                 options.registerFault.kind != RegisterFault::Kind::None)
            registerFault = DrawRegisterFault();
    }

    Call call{req, res, {}, nullptr, arrival};
    for (const auto& [key, value] : req.params)
        call.params.emplace(LowerAscii(key), DecodeQueryValue(value, options.charset));
    const std::string token = SessionTokenOf(req);
    call.account = SessionOf(token, numberList);

    // A number list is answered as of its arrival: releases and the busy answers
    // after them go by when a request came, not by when its delayed answer leaves.
    const bool answeredOnArrival = numberList && (fault == Fault::None || fault == Fault::Stall);
    if (answeredOnArrival) {
        RouteOrFail(scriptHost, call);
        if (call.busy)
            fault = Fault::Busy; // refused at once, never stalled
    }

    RequestLogEntry entry;
    entry.timeMs = std::chrono::duration_cast<std::chrono::milliseconds>(arrival.time_since_epoch()).count();
    entry.host = scriptHost ? "script" : "main";
    entry.path = req.path;
    if (const std::size_t q = req.target.find('?'); q != std::string::npos)
        entry.query = req.target.substr(q + 1);
    entry.cookie = !token.empty();
    entry.signedIn = call.account != nullptr;
    entry.fault = forcedStatus                                 ? "status-" + std::to_string(forcedStatus)
                  : registerFault != RegisterFault::Kind::None ? std::string(RegisterFaultName(registerFault))
                                                               : std::string(FaultName(fault));
    entry.params.assign(call.params.begin(), call.params.end());
    log.Add(std::move(entry));

    if (options.faults.latencyMs > 0 && !WaitUnlessStopped(options.faults.latencyMs)) {
        HttpServer::DropConnection();
        return httplib::Server::HandlerResponse::Handled;
    }
    switch (fault) {
    case Fault::Drop:
        HttpServer::DropConnection();
        return httplib::Server::HandlerResponse::Handled;
    case Fault::Stall:
        if (!WaitUnlessStopped(options.faults.stallMs)) {
            HttpServer::DropConnection();
            return httplib::Server::HandlerResponse::Handled;
        }
        break;
    case Fault::Error:
        res.status = 500;
        res.set_content(EncodeAnswer(pages::ServerError(), options.charset), contentType);
        return httplib::Server::HandlerResponse::Handled;
    case Fault::EmptyBody:
        res.status = 200;
        res.set_content(std::string(), contentType);
        return httplib::Server::HandlerResponse::Handled;
    case Fault::Busy:
    case Fault::None:
        break;
    }
    if (forcedStatus) {
        res.status = forcedStatus;
        res.set_content(EncodeAnswer(pages::ServerError(), options.charset), contentType);
        return httplib::Server::HandlerResponse::Handled;
    }
    if (registerFault != RegisterFault::Kind::None)
        return ServeRegisterFault(registerFault, call);
    if (!answeredOnArrival)
        RouteOrFail(scriptHost, call);
    return httplib::Server::HandlerResponse::Handled;
}

httplib::Server::HandlerResponse DemoPortal::Impl::ServeRegisterFault(RegisterFault::Kind kind, Call& call) {
    const bool after = options.registerFault.afterTaking;
    const auto handled = httplib::Server::HandlerResponse::Handled;
    if (kind == RegisterFault::Kind::Busy503) {
        call.res.status = 503;
        call.res.set_content(pages::ServerTooBusy(), "text/html; charset=us-ascii");
        return handled;
    }
    if (kind == RegisterFault::Kind::Slow) {
        if (!after && !WaitUnlessStopped(options.registerFault.slowMs)) {
            HttpServer::DropConnection();
            return handled;
        }
        RouteOrFail(false, call);
        if (after && !WaitUnlessStopped(options.registerFault.slowMs))
            HttpServer::DropConnection();
        return handled;
    }
    if (after)
        RouteOrFail(false, call); // the number is taken; its answer is then lost
    switch (kind) {
    case RegisterFault::Kind::Error500:
        call.res.status = 500;
        call.res.set_content(EncodeAnswer(pages::ServerError(), options.charset), contentType);
        break;
    case RegisterFault::Kind::Drop:
        HttpServer::DropConnection();
        break;
    default:
        call.res.status = 200;
        call.res.set_content(std::string(), contentType);
        break;
    }
    return handled;
}

const Account* DemoPortal::Impl::SessionOf(const std::string& token, bool numberList) {
    const std::lock_guard lock(sessionMutex);
    // Counted under the lock of the lookups, so that no request counted later
    // still finds a session.
    if (numberList && options.forgetSessionsAfterPolls > 0 &&
        ++numberListRequests == options.forgetSessionsAfterPolls)
        sessions.clear();
    if (token.empty())
        return nullptr;
    const auto it = sessions.find(token);
    return it == sessions.end() ? nullptr : &accounts[it->second];
}

void DemoPortal::Impl::RouteOrFail(bool scriptHost, Call& call) {
    try {
        Route(scriptHost, call);
    } catch (const std::exception&) {
        call.res.status = 500;
        call.res.set_content(EncodeAnswer(pages::ServerError(), options.charset), contentType);
    }
}

void DemoPortal::Impl::Route(bool scriptHost, Call& call) {
    // Paths compare without case, as the portal's server does.
    const std::string path = LowerAscii(call.req.path);
    if (call.req.method != "GET" && call.req.method != "HEAD") {
        call.res.status = 405;
        call.res.set_content(EncodeAnswer(pages::NotFound(options.charset), options.charset), contentType);
        return;
    }
    if (scriptHost) {
        if (path == "/js/city.js") {
            call.res.status = 200;
            call.res.set_content(cityScript, scriptType);
        } else if (path == "/js/index.js") {
            call.res.status = 200;
            call.res.set_content(hospitalScript, scriptType);
        } else {
            Answer(call.res, pages::NotFound(options.charset), contentType);
            call.res.status = 404;
        }
        return;
    }
    using Handler = void (Impl::*)(Call&);
    static const std::unordered_map<std::string, Handler> kSignedIn{
        {"/usermanage/cyxx.aspx", &Impl::Patients},
        {"/action/numberwater.ashx", &Impl::NumberList},
        {"/action/regcheck.ashx", &Impl::RegistrationForm},
        {"/action/register.ashx", &Impl::Register},
    };
    if (const auto it = kSignedIn.find(path); it != kSignedIn.end()) {
        if (call.account == nullptr)
            Answer(call.res, pages::SignInRequired(options.charset), contentType);
        else
            (this->*(it->second))(call);
        return;
    }
    if (path == "/action/cardlogin.ashx") {
        SignIn(call);
    } else if (path == "/doctor.aspx") {
        DoctorPage(call);
    } else if (path == "/action/ghthosdept.ashx") {
        const auto hid = call.Int("hid");
        Answer(call.res,
               pages::DepartmentList(hid ? catalogue.DepartmentsOf(*hid) : std::span<const Department>{}),
               contentType);
    } else if (path == "/action/doctorbyhosdept.ashx") {
        const auto id = call.Int("id");
        Answer(call.res, pages::DoctorList(id ? catalogue.DoctorsOf(*id) : std::span<const Doctor>{}),
               contentType);
    } else if (path == "/" || path == "/default.aspx") {
        Answer(call.res, pages::Home(options.charset), contentType);
    } else if (path == "/usermanage/" || path == "/usermanage/default.aspx") {
        Answer(call.res, call.account ? pages::Home(options.charset) : pages::SignInRequired(options.charset),
               contentType);
    } else {
        Answer(call.res, pages::NotFound(options.charset), contentType);
        call.res.status = 404;
    }
}

void DemoPortal::Impl::SignIn(Call& call) {
    const std::string card = call.Get("cardnumber");
    const std::string password = call.Get("password");
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        if (accounts[i].cardNumber != card || accounts[i].password != password)
            continue;
        std::string token;
        {
            const std::lock_guard lock(sessionMutex);
            static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz012345";
            for (int n = 0; n < 24; ++n)
                token += kAlphabet[tokenSource() % 32];
            sessions[token] = i;
        }
        call.res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + token + "; path=/; HttpOnly");
        std::string next = call.Get("url");
        if (next.empty() || next.front() != '/' || next.find_first_of("\"<>") != std::string::npos)
            next = "/UserManage/";
        Answer(call.res, pages::SignedIn(next), contentType);
        return;
    }
    Answer(call.res, pages::SignInRefused(), contentType);
}

void DemoPortal::Impl::Patients(Call& call) {
    Answer(call.res, pages::Patients(*call.account, options.charset), contentType);
}

void DemoPortal::Impl::DoctorPage(Call& call) {
    const auto hospitalId = call.Int("id");
    const auto doctorId = call.Int("doctid");
    const Doctor* doctor = doctorId ? catalogue.FindDoctor(*doctorId) : nullptr;
    if (doctor == nullptr || !hospitalId || doctor->hospitalId != *hospitalId) {
        Answer(call.res, pages::DoctorNotFound(options.charset), contentType);
        return;
    }
    const std::vector<Slot> list = SlotsAt(doctor->id, call.arrival);
    Answer(call.res,
           pages::DoctorPage(*catalogue.FindHospital(doctor->hospitalId),
                             *catalogue.FindDepartment(doctor->departmentId), *doctor, list, options.charset),
           contentType);
}

void DemoPortal::Impl::NumberList(Call& call) {
    const auto sn = call.Int("sn");
    const std::optional<Slot> base = sn ? catalogue.FindSlot(*sn) : std::nullopt;
    // The slot's own fields must come back as the doctor page wrote them.
    if (!base || call.Get("date") != base->date || call.Int("timeid") != base->timeid ||
        call.Int("type") != base->type || call.Int("weekid") != base->weekid ||
        !SameIgnoringCase(call.Get("url"), base->url)) {
        Answer(call.res, pages::Status(-9, "参数错误", "未找到该出诊时段"), contentType);
        return;
    }
    std::string answer;
    {
        const std::lock_guard lock(slotMutex);
        SlotRuntime& rt = RuntimeOf(*base);
        if (!Released(*base, rt, call.arrival)) {
            if (rt.releaseAfterPolls > 0 && rt.polls >= rt.releaseAfterPolls) {
                rt.released = true;
            } else {
                ++rt.polls;
                Answer(call.res, pages::Status(-1, "未放号", "该时段尚未开始放号，请稍后再试"), contentType);
                return;
            }
        }
        // The rush at a release: the web server turns the first requests away
        // before the page itself is reached.
        if (base->state == state::kNotReleased && rt.busyAnswers < options.busyAfterRelease) {
            ++rt.busyAnswers;
            call.busy = true;
            call.res.status = 503;
            call.res.set_content(pages::ServerTooBusy(), "text/html; charset=us-ascii");
            return;
        }
        switch (StateAt(*base, rt, call.arrival)) {
        case state::kClosed:
            answer = pages::Status(-2, "已截止", "该时段已停止预约");
            break;
        case state::kFull:
            answer = pages::Status(-3, "已约满", "该时段号源已约满");
            break;
        case state::kOpen: {
            const Hospital* hospital = catalogue.FindHospital(base->hospitalId);
            answer = pages::NumberList(*base, FreeOf(*base, rt), hospital->provinceId);
            break;
        }
        default:
            answer = pages::Status(-4, "停诊", "医生该时段停诊");
        }
    }
    Answer(call.res, answer, contentType);
}

void DemoPortal::Impl::RegistrationForm(Call& call) {
    const auto numberId = call.Int("id");
    const auto mid = call.Int("mid");
    const Patient* patient = mid ? call.account->FindByClinicNumber(*mid) : nullptr;
    if (patient == nullptr) {
        Answer(call.res, pages::Status(-6, "就诊人不存在", "请先选择本账户下的就诊人"), contentType);
        return;
    }
    const std::optional<Slot> base =
        numberId && *numberId > 0 ? catalogue.FindSlot(Catalogue::SlotOfNumber(*numberId)) : std::nullopt;
    const int k = numberId ? Catalogue::IndexOfNumber(*numberId) : 0;
    if (!base || k >= base->numberCount) {
        Answer(call.res, pages::Status(-9, "参数错误", "未找到该号源"), contentType);
        return;
    }
    {
        const std::lock_guard lock(slotMutex);
        SlotRuntime& rt = RuntimeOf(*base);
        if (StateAt(*base, rt, call.arrival) != state::kOpen || (rt.taken & (1u << k)) != 0) {
            Answer(call.res, pages::Status(-5, "已被预约", "该号源已不可预约，请重新选择"), contentType);
            return;
        }
    }
    Answer(call.res,
           pages::RegistrationForm(*base, k, *patient, *catalogue.FindHospital(base->hospitalId),
                                   *catalogue.FindDoctor(base->doctorId)),
           contentType);
}

void DemoPortal::Impl::Register(Call& call) {
    auto refuse = [&](int code, std::string_view marker, std::string_view message) {
        Answer(call.res, pages::Status(code, marker, message), contentType);
    };
    const auto numberId = call.Int("id");
    const auto memberId = call.Int("memberid");
    const Patient* patient = memberId ? call.account->FindByClinicNumber(*memberId) : nullptr;
    if (patient == nullptr)
        return refuse(-6, "就诊人不存在", "请先选择本账户下的就诊人");
    const std::optional<Slot> base =
        numberId && *numberId > 0 ? catalogue.FindSlot(Catalogue::SlotOfNumber(*numberId)) : std::nullopt;
    const int k = numberId ? Catalogue::IndexOfNumber(*numberId) : 0;
    if (!base || k >= base->numberCount)
        return refuse(-9, "参数错误", "未找到该号源");
    const Hospital* hospital = catalogue.FindHospital(base->hospitalId);
    if (!SameIgnoringCase(call.Get("url"), pages::RegistrationUrlOf(*base)) ||
        call.Int("provinceid") != hospital->provinceId || call.Int("ghthospitalid") != hospital->id)
        return refuse(-9, "参数错误", "预约信息与号源不符");

    // The identity the form showed must come back unchanged.
    const std::optional<Date> birthday = ParseDate(patient->birthday);
    const Date b = birthday.value_or(Date{1980, 1, 1});
    const std::pair<bool, std::string_view> checks[] = {
        {call.Int("zhengjiantype") == 1, "证件类型"},
        {SameIgnoringCase(call.Get("zhengjianid"), patient->identityNo), "证件号码"},
        {SameIgnoringCase(call.Get("identityno"), patient->identityNo), "身份证号"},
        {call.Int("year") == b.year && call.Int("month") == b.month && call.Int("day") == b.day, "出生日期"},
        {SameIgnoringCase(call.Get("othercard"), pages::OtherCardOf(*patient)), "其他卡号"},
    };
    for (const auto& [ok, field] : checks)
        if (!ok)
            return refuse(-7, "信息不符", std::string(field) + "与就诊人登记信息不符");

    {
        const std::lock_guard lock(slotMutex);
        SlotRuntime& rt = RuntimeOf(*base);
        switch (StateAt(*base, rt, call.arrival)) {
        case state::kOpen:
            break;
        case state::kFull:
            return refuse(-3, "已约满", "该时段号源已约满");
        case state::kNotReleased:
            return refuse(-1, "未放号", "该时段尚未开始放号");
        case state::kClosed:
            return refuse(-2, "已截止", "该时段已停止预约");
        default:
            return refuse(-4, "停诊", "医生该时段停诊");
        }
        // One patient, one number per slot, as the real portal keeps it.
        for (const Booking& b : bookings)
            if (b.sn == base->sn && b.cardNumber == call.account->cardNumber &&
                b.clinicNumber == patient->clinicNumber)
                return refuse(-8, "重复预约", "您已预约过该时段，不能重复预约！");
        if ((rt.taken & (1u << k)) != 0)
            return refuse(-5, "已被预约", "该号源已被预约，请重新选择");
        rt.taken |= 1u << k;
        bookings.push_back(Booking{*numberId, base->sn, call.account->cardNumber, patient->clinicNumber});
    }
    std::string message = "您已成功预约" + base->date + " ";
    message += pages::WeekdayText(base->weekid);
    message += " ";
    message += pages::HalfDayText(base->timeid);
    message += " 第" + std::to_string(k + 1) + "号（" + Catalogue::NumberTime(base->timeid, k) +
               "），请按时到" + hospital->name + "就诊";
    Answer(call.res, pages::Status(1, "预约成功", message), contentType);
}

DemoPortal::DemoPortal(PortalOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

DemoPortal::~DemoPortal() {
    Stop();
}

void DemoPortal::Start() {
    Impl& m = *impl_;
    if (m.started)
        return;
    auto bind = [](HttpServer& server, int wanted) {
        const int port = wanted == 0 ? server.bind_to_any_port(std::string(kLoopback))
                                     : (server.bind_to_port(std::string(kLoopback), wanted) ? wanted : -1);
        if (port <= 0)
            throw std::runtime_error("cannot listen on " + std::string(kLoopback) + ":" +
                                     std::to_string(wanted));
        return port;
    };
    m.port = bind(m.mainServer, m.options.port);
    m.scriptPort = bind(m.scriptServer, m.options.scriptPort);
    {
        const std::lock_guard lock(m.stopMutex);
        m.stopping = false;
    }
    m.mainFinished = false;
    m.scriptFinished = false;
    m.mainThread = std::thread([&m] {
        m.mainServer.listen_after_bind();
        m.mainFinished = true;
    });
    m.scriptThread = std::thread([&m] {
        m.scriptServer.listen_after_bind();
        m.scriptFinished = true;
    });
    m.started = true;
}

void DemoPortal::Stop() {
    Impl& m = *impl_;
    if (!m.started)
        return;
    {
        const std::lock_guard lock(m.stopMutex);
        m.stopping = true;
    }
    m.stopSignal.notify_all();
    // stop() does nothing before the listen loop has begun, so wait for it.
    auto waitListening = [](const HttpServer& server, const std::atomic<bool>& finished) {
        while (!server.is_running() && !finished)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    waitListening(m.mainServer, m.mainFinished);
    waitListening(m.scriptServer, m.scriptFinished);
    m.mainServer.stop();
    m.scriptServer.stop();
    m.mainThread.join();
    m.scriptThread.join();
    m.started = false;
}

int DemoPortal::Port() const {
    return impl_->port;
}
int DemoPortal::ScriptPort() const {
    return impl_->scriptPort;
}
std::string DemoPortal::BaseUrl() const {
    return "http://" + std::string(kLoopback) + ":" + std::to_string(Port());
}
std::string DemoPortal::ScriptUrl() const {
    return "http://" + std::string(kLoopback) + ":" + std::to_string(ScriptPort());
}

const PortalOptions& DemoPortal::Options() const {
    return impl_->options;
}
const Catalogue& DemoPortal::GetCatalogue() const {
    return impl_->catalogue;
}
const Account& DemoPortal::DemoAccount() const {
    return impl_->accounts.front();
}
const std::vector<Account>& DemoPortal::Accounts() const {
    return impl_->accounts;
}

std::vector<Slot> DemoPortal::SlotsOf(int doctorId) const {
    return impl_->SlotsAt(doctorId, Now());
}

std::optional<SlotOfDoctor> DemoPortal::FindSlot(int state) const {
    const auto now = Now();
    for (const Doctor& d : impl_->catalogue.Doctors())
        for (const Slot& s : impl_->SlotsAt(d.id, now))
            if (s.state == state)
                return SlotOfDoctor{d, s};
    return std::nullopt;
}

std::vector<int> DemoPortal::FreeNumbers(int sn) const {
    const std::optional<Slot> base = impl_->catalogue.FindSlot(sn);
    if (!base)
        return {};
    const std::lock_guard lock(impl_->slotMutex);
    return impl_->FreeOf(*base, impl_->RuntimeOf(*base));
}

void DemoPortal::ReleaseAfterPolls(int sn, int polls) {
    const std::optional<Slot> base = impl_->catalogue.FindSlot(sn);
    if (!base)
        throw std::invalid_argument("no slot " + std::to_string(sn));
    const std::lock_guard lock(impl_->slotMutex);
    SlotRuntime& rt = impl_->RuntimeOf(*base);
    rt.polls = 0;
    rt.releaseAfterPolls = polls;
    rt.releaseAt.reset();
    rt.released = false;
    rt.busyAnswers = 0;
}

void DemoPortal::ReleaseAt(int sn, std::chrono::system_clock::time_point when) {
    const std::optional<Slot> base = impl_->catalogue.FindSlot(sn);
    if (!base)
        throw std::invalid_argument("no slot " + std::to_string(sn));
    const std::lock_guard lock(impl_->slotMutex);
    SlotRuntime& rt = impl_->RuntimeOf(*base);
    rt.releaseAfterPolls = 0;
    rt.releaseAt = when;
    rt.released = false;
    rt.busyAnswers = 0;
}

int DemoPortal::PollsOf(int sn) const {
    const std::lock_guard lock(impl_->slotMutex);
    const auto it = impl_->slots.find(sn);
    return it == impl_->slots.end() ? 0 : it->second.polls;
}

std::vector<Booking> DemoPortal::Bookings() const {
    const std::lock_guard lock(impl_->slotMutex);
    return impl_->bookings;
}

std::chrono::system_clock::time_point DemoPortal::Now() const {
    return impl_->Now();
}

void DemoPortal::ForgetSessions() {
    const std::lock_guard lock(impl_->sessionMutex);
    impl_->sessions.clear();
}

std::vector<RequestLogEntry> DemoPortal::RequestLog() const {
    return impl_->log.Entries();
}
void DemoPortal::ClearRequestLog() {
    impl_->log.Clear();
}

} // namespace quilora::portal
