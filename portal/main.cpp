// quilora-portal: runs the demo portal until SIGINT or SIGTERM.
#include <atomic>
#include <chrono>
#include <csignal>
#include <exception>
#include <iostream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "portal/demo_portal.h"
#include "portal/portal_cli.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
extern "C" void OnSignal(int) {
    stopRequested = 1;
}
} // namespace

int main(int argc, char** argv) {
    using namespace quilora::portal;
#ifdef _WIN32
    ::SetConsoleOutputCP(CP_UTF8); // the console shows the UTF-8 it is given
#endif
    CliResult cli = ParseCommandLine(argc, argv, std::cout, std::cerr);
    if (cli.exitCode)
        return *cli.exitCode;
    try {
        DemoPortal portal(std::move(cli.options));
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        portal.Start();
        std::cout << "quilora-portal: main host " << portal.BaseUrl() << ", script host "
                  << portal.ScriptUrl() << "\nquilora-portal: demo account "
                  << portal.DemoAccount().cardNumber << " / " << portal.DemoAccount().password << std::endl;
        while (!stopRequested)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        portal.Stop();
        std::cout << "quilora-portal: stopped" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "quilora-portal: " << e.what() << std::endl;
        return 1;
    }
}
