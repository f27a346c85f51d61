#pragma once
// quilora-book's notifications: the window's notices of a booking's outcome,
// sent off the main thread, their results printed on the main thread; and
// the notify-test command.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "book/book_options.h"
#include "book/book_output.h"
#include "net/notifier.h"
#include "workflow/outcome_notice.h"

namespace quilora::book {

class BookNotify {
public:
    BookNotify(const BookOptions& options, const std::string& configPath, BookOutput& output);
    // Lets what was posted go out (each send is bounded), then prints the results.
    ~BookNotify();
    BookNotify(const BookNotify&) = delete;
    BookNotify& operator=(const BookNotify&) = delete;

    // Every status the engine publishes; also prints results that came in.
    void Status(const AutoBookingStatus& status);
    // The tool's own sign-in was refused: a notice when it was to watch.
    void SignInRefused(const std::string& cardNo);

private:
    void Post(Notice notice);
    void PrintResults();

    const BookOptions& options_;
    std::string configPath_;
    BookOutput& out_;
    OutcomeNotices notices_;
    std::mutex mutex_;
    std::vector<ChannelResult> results_; // from the worker, printed by the main thread
    std::unique_ptr<Notifier> notifier_; // started by the first notice
};

// notify-test: 0 when every configured channel succeeded, 1 when one failed,
// 2 when none is configured (or Config.ini is missing).
int RunNotifyTest(const BookOptions& options, BookOutput& output);

} // namespace quilora::book
