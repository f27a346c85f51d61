// Normalisation and the match-all loop over portal-sized pages.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <tuple>
#include <type_traits>
#include <utility>

#include "common/normalise.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"

namespace {

using namespace quilora;

constexpr std::size_t kMB = 1024 * 1024;

// The hospital script as the portal writes it: one entry per city, each with
// its list of hospitals, quoted, mixed case, CRLF and tabs.
std::string HospitalScript(std::size_t bytes) {
    std::string s = "var HosList = [\r\n";
    for (int city = 0; s.size() < bytes; ++city) {
        s += "\t{\"PID\":" + std::to_string(city / 20) + ",\"CID\":" + std::to_string(city) +
             ",\"Hospital\":[";
        for (int h = 0; h < 25; ++h) {
            if (h)
                s += ",\r\n\t\t";
            s += "{\"ID\":" + std::to_string(city * 100 + h) + ",\"Name\":\"第" + std::to_string(h) +
                 "人民医院(Branch " + std::to_string(h) + ")\"}";
        }
        s += "]},\r\n";
    }
    return s + "];\r\n";
}

// A department's doctor list: one link per doctor among the page's markup.
std::string DoctorList(std::size_t bytes) {
    std::string s = "<HTML><BODY><TABLE class=\"DocList\">\r\n";
    for (int d = 0; s.size() < bytes; ++d)
        s += "\t<TR><TD class=\"Photo\"><IMG src=\"/img/d" + std::to_string(d) +
             ".jpg\"></TD><TD><A href=\"Doctor.aspx?DoctID=" + std::to_string(d) + "\">张医生" +
             std::to_string(d) + "&nbsp;主任医师</A></TD><TD>心血管内科</TD></TR>\r\n";
    return s + "</TABLE></BODY></HTML>";
}

const std::string& Page(bool hospital, bool normalised, std::size_t mb) {
    static std::map<std::tuple<bool, bool, std::size_t>, std::string> pages;
    auto& p = pages[{hospital, normalised, mb}];
    if (p.empty()) {
        const std::string raw = hospital ? HospitalScript(mb * kMB) : DoctorList(mb * kMB);
        p = normalised ? NormalisePage(raw) : raw;
    }
    return p;
}

void ReportMemory(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
#ifndef _WIN32
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    // The process's high-water mark so far (pages of earlier sizes included).
    state.counters["peak_rss_MB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
#endif
    state.counters["page_MB"] = static_cast<double>(bytes) / kMB;
}

// How the page reaches the routine: as a view that is copied (the routine
// allocates), or handed over whole as a fetched page is (no second buffer).
enum class Feed { Copy, Move };

// The hospital crawl's reading: outer loop over city entries, inner loop over
// each entry's hospital list.
std::size_t WalkHospitals(std::string_view page) {
    std::size_t n = 0;
    ForEachMatch(pattern::kCityHospitals, page, [&](const TRegExpr& city) {
        n += ForEachMatch(pattern::kHospital, city.CaptureView(3),
                          [&](const TRegExpr& h) { benchmark::DoNotOptimize(h.CaptureView(2).size()); });
    });
    return n;
}

template <typename Run> void Measure(benchmark::State& state, const std::string& page, Feed feed, Run run) {
    std::size_t result = 0;
    for (auto _ : state) {
        if (feed == Feed::Copy) {
            result = run(std::string_view(page));
        } else {
            state.PauseTiming(); // the fetched page already exists in real use
            std::string owned = page;
            state.ResumeTiming();
            result = run(std::move(owned));
        }
    }
    ReportMemory(state, page.size());
    state.counters["result"] = static_cast<double>(result);
}

void BM_Normalise(benchmark::State& state, bool hospital, Feed feed) {
    const std::string& page = Page(hospital, false, static_cast<std::size_t>(state.range(0)));
    Measure(state, page, feed,
            [](auto&& text) { return NormalisePage(std::forward<decltype(text)>(text)).size(); });
}

void BM_HospitalScriptNestedWalk(benchmark::State& state, Feed feed) {
    const std::string& page = Page(true, true, static_cast<std::size_t>(state.range(0)));
    Measure(state, page, feed, [](auto&& text) {
        if constexpr (std::is_same_v<std::decay_t<decltype(text)>, std::string>) {
            // handed over: the outer scanner takes the page without copying it
            std::size_t n = 0;
            ForEachMatch(pattern::kCityHospitals, std::move(text), [&](const TRegExpr& city) {
                n += ForEachMatch(pattern::kHospital, city.CaptureView(3), [&](const TRegExpr& h) {
                    benchmark::DoNotOptimize(h.CaptureView(2).size());
                });
            });
            return n;
        } else {
            return WalkHospitals(text);
        }
    });
}

void BM_DoctorListWalk(benchmark::State& state, Feed feed) {
    const std::string& page = Page(false, true, static_cast<std::size_t>(state.range(0)));
    Measure(state, page, feed, [](auto&& text) {
        return ForEachMatch(pattern::kDoctor, std::forward<decltype(text)>(text),
                            [](const TRegExpr& d) { benchmark::DoNotOptimize(d.CaptureView(3).size()); });
    });
}

#define SIZES ->Arg(1)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)
BENCHMARK_CAPTURE(BM_Normalise, hospital_script_copy, true, Feed::Copy) SIZES;
BENCHMARK_CAPTURE(BM_Normalise, hospital_script_in_place, true, Feed::Move) SIZES;
BENCHMARK_CAPTURE(BM_Normalise, doctor_list_copy, false, Feed::Copy) SIZES;
BENCHMARK_CAPTURE(BM_Normalise, doctor_list_in_place, false, Feed::Move) SIZES;
BENCHMARK_CAPTURE(BM_HospitalScriptNestedWalk, copy, Feed::Copy) SIZES;
BENCHMARK_CAPTURE(BM_HospitalScriptNestedWalk, moved, Feed::Move) SIZES;
BENCHMARK_CAPTURE(BM_DoctorListWalk, copy, Feed::Copy) SIZES;
BENCHMARK_CAPTURE(BM_DoctorListWalk, moved, Feed::Move) SIZES;
#undef SIZES

} // namespace

BENCHMARK_MAIN();
