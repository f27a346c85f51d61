// Requests per second the demo portal sustains on loopback over keep-alive
// connections, at national scale: a department's doctor list and the hospital
// script. Bounded by a request count and a time limit per run.
//
//   quilora_bench_portal [--requests N] [--seconds S] [--connections C]
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "portal/demo_portal.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Result {
    long requests = 0;
    long failures = 0;
    long bytes = 0;
    double seconds = 0;
};

// Each connection walks its own share of paths, one request after another.
Result Run(int port, const std::vector<std::string>& paths, long maxRequests, double maxSeconds,
           int connections) {
    std::atomic<long> left{maxRequests};
    std::atomic<long> done{0}, failed{0}, bytes{0};
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration<double>(maxSeconds);
    std::vector<std::thread> workers;
    for (int c = 0; c < connections; ++c) {
        workers.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            std::size_t i = std::size_t(c);
            while (left.fetch_sub(1) > 0 && Clock::now() < deadline) {
                const auto res = client.Get(paths[i++ % paths.size()].c_str());
                if (res && res->status == 200) {
                    ++done;
                    bytes += long(res->body.size());
                } else {
                    ++failed;
                }
            }
        });
    }
    for (std::thread& t : workers)
        t.join();
    return Result{done, failed, bytes, std::chrono::duration<double>(Clock::now() - start).count()};
}

void Report(const char* name, const Result& r) {
    std::printf("%-22s %8ld requests %5ld failed %7.2f s  %9.0f req/s  %8.1f MB/s\n", name, r.requests,
                r.failures, r.seconds, r.requests / r.seconds, r.bytes / r.seconds / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    long requests = 50000;
    double seconds = 10;
    int connections = 2;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--requests"))
            requests = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--connections"))
            connections = std::max(1, std::atoi(argv[i + 1]));
    }

    quilora::portal::PortalOptions o;
    o.port = 0;
    o.scriptPort = 0;
    o.scale = quilora::portal::Scale::National;
    const auto built = Clock::now();
    quilora::portal::DemoPortal portal(o);
    portal.Start();
    std::printf("national catalogue built and portal started in %.2f s\n",
                std::chrono::duration<double>(Clock::now() - built).count());

    std::vector<std::string> doctorLists;
    const auto& departments = portal.GetCatalogue().Departments();
    for (std::size_t i = 0; i < departments.size(); i += 97)
        doctorLists.push_back("/Action/DoctorByHosdept.ashx?id=" + std::to_string(departments[i].id));

    Run(portal.Port(), doctorLists, 2000, 2, connections); // warm-up
    Report("doctor list", Run(portal.Port(), doctorLists, requests, seconds, connections));
    Report("hospital script",
           Run(portal.ScriptPort(), {"/js/Index.js"}, requests / 10, seconds, connections));
    portal.Stop();
    return 0;
}
