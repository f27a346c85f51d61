// Time of the selection cascade on a filled catalogue: the window's start-up
// (which builds the area list), the area list alone, and each change of
// selection as a user's choice runs it.
//   quilora_bench_cascade FOLDER   (FOLDER holds the Config.ini naming the catalogue)
#include <QApplication>
#include <QComboBox>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "app/application.h"
#include "app/combo_sink.h"
#include "app/dialogs.h"
#include "app/tmain.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    const char* what;
    std::vector<double> ms;
};

void Print(const Figures& f) {
    std::vector<double> v = f.ms;
    std::sort(v.begin(), v.end());
    std::printf("%-26s n=%-5zu median %7.3f ms   p99 %7.3f ms   max %7.3f ms\n", f.what, v.size(),
                v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back());
}

double Time(const std::function<void()>& fn) {
    const auto t0 = Clock::now();
    fn();
    return Ms(Clock::now() - t0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER-WITH-CONFIG.INI\n", argv[0]);
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    quilora::Application app(argc, argv);
    quilora::SetResponder([](const quilora::MessageRequest& r) {
        std::fprintf(stderr, "box: %s\n", r.text.c_str());
        return quilora::kIdOk;
    });

    std::unique_ptr<quilora::TMain> w;
    Figures startup{"start-up (whole FormCreate)",
                    {Time([&] { w = std::make_unique<quilora::TMain>(argv[1]); })}};
    Figures area{"area list", {}};
    for (int i = 0; i < 20; ++i)
        area.ms.push_back(Time([&] { w->BuildAreaList(); }));

    // Every city, a hospital of each, a department of each: as a user picks them.
    Figures cities{"choose a city", {}}, hospitals{"choose a hospital", {}},
        classes{"choose a department", {}};
    for (int i = 0; i < w->cbxArea->count(); ++i) {
        if (quilora::ItemTag(*w->cbxArea, i) == 0)
            continue;
        quilora::SelectItem(*w->cbxArea, i);
        cities.ms.push_back(Time([&] { w->cbxAreaChange(); }));
        const int h = w->cbxHospital->count();
        if (h == 0)
            continue;
        quilora::SelectItem(*w->cbxHospital, h - 1);
        hospitals.ms.push_back(Time([&] { w->cbxHospitalChange(); }));
        const int c = w->cbxClass->count();
        if (c == 0)
            continue;
        quilora::SelectItem(*w->cbxClass, c - 1);
        classes.ms.push_back(Time([&] { w->cbxClassChange(); }));
    }
    std::printf("catalogue: %d area entries\n", w->cbxArea->count());
    for (const Figures* f : {&startup, &area, &cities, &hospitals, &classes})
        if (!f->ms.empty())
            Print(*f);
    return 0;
}
