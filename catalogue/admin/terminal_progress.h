#pragma once
// A one-line progress bar on a terminal; plain summary lines elsewhere.
#include <chrono>
#include <cstdio>

#include "catalogue/crawler.h"

namespace quilora::admin {

class TerminalProgress : public catalogue::CrawlProgress {
public:
    // bar: redraw a bar in place (out is a terminal); otherwise one line per crawl.
    TerminalProgress(std::FILE* out, bool bar) : out_(out), bar_(bar) {}

    void Started(catalogue::CrawlKind kind, std::size_t pages) override;
    void Advanced(catalogue::CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) override;
    // The crawl's closing line, with its time.
    void Finished(catalogue::CrawlKind kind, const catalogue::CrawlResult& result);
    // Ends a bar left half drawn by a failed crawl.
    void Interrupted();

private:
    void Draw(catalogue::CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows);

    std::FILE* out_;
    bool bar_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_{};
    std::chrono::steady_clock::time_point lastDraw_{};
};

} // namespace quilora::admin
