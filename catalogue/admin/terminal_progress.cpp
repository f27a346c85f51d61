#include "catalogue/admin/terminal_progress.h"

#include <string>

namespace quilora::admin {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(std::chrono::nanoseconds d) {
    return std::chrono::duration<double>(d).count();
}

} // namespace

void TerminalProgress::Started(catalogue::CrawlKind kind, std::size_t pages) {
    start_ = Clock::now();
    lastDraw_ = {};
    if (bar_)
        Draw(kind, 0, pages, 0);
}

void TerminalProgress::Advanced(catalogue::CrawlKind kind, std::size_t done, std::size_t total,
                                std::size_t rows) {
    if (!bar_)
        return;
    // Ten frames a second are plenty; the last one always shows.
    const auto now = Clock::now();
    if (done != total && now - lastDraw_ < std::chrono::milliseconds(100))
        return;
    lastDraw_ = now;
    Draw(kind, done, total, rows);
}

void TerminalProgress::Draw(catalogue::CrawlKind kind, std::size_t done, std::size_t total,
                            std::size_t rows) {
    constexpr int kWidth = 30;
    const int filled = total == 0 ? kWidth : static_cast<int>(kWidth * done / total);
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                            std::string(static_cast<std::size_t>(kWidth - filled), '.');
    std::fprintf(out_, "\r%-11s [%s] %zu/%zu pages, %zu rows",
                 std::string(catalogue::CrawlName(kind)).c_str(), bar.c_str(), done, total, rows);
    std::fflush(out_);
    drawn_ = true;
}

void TerminalProgress::Finished(catalogue::CrawlKind kind, const catalogue::CrawlResult& result) {
    const double s = Seconds(Clock::now() - start_);
    if (drawn_)
        std::fputc('\n', out_);
    drawn_ = false;
    const double storing = Seconds(result.storing);
    std::fprintf(
        out_, "%s: %zu pages, %zu rows in %.2f s (%.0f pages/s, %.0f rows/s; storing %.2f s, %.0f rows/s)\n",
        std::string(catalogue::CrawlName(kind)).c_str(), result.pages, result.rows, s,
        s > 0 ? double(result.pages) / s : 0.0, s > 0 ? double(result.rows) / s : 0.0, storing,
        storing > 0 ? double(result.rows) / storing : 0.0);
    std::fflush(out_);
}

void TerminalProgress::Interrupted() {
    if (drawn_)
        std::fputc('\n', out_);
    drawn_ = false;
    std::fflush(out_);
}

} // namespace quilora::admin
