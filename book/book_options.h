#pragma once
// The command line of quilora-book: its commands, their options, and the
// --help footer that documents exit codes and JSON events.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace quilora::book {

enum class Command { SignIn, Patients, Schedule, Book, Watch, History, NotifyTest };

// More slots than this in one watch would stretch a tick beyond its 800 ms.
inline constexpr std::size_t kMaxWatchedSlots = 5;

// A slot on the command line: "SN" (of --doctor) or "DOCTOR:SN".
struct SlotTarget {
    int doctorId = 0;
    int sn = 0;
    bool operator==(const SlotTarget&) const = default;
};

struct BookOptions {
    Command command = Command::SignIn;
    std::string configPath;
    std::optional<std::string> passwordFile;
    bool json = false;
    bool verbose = false; // the engine's log lines (addresses are never shown)
    bool refresh = false; // patients: fetch even when cached
    std::optional<int> doctorId;
    std::optional<int> hospitalId;
    std::vector<std::string> slotArgs; // as given to --slot
    std::vector<SlotTarget> targets;   // read from slotArgs by CheckOptions
    bool saved = false;                // watch: the saved, armed auto-booking list
    std::optional<int> limit;          // history: the newest N rows
    std::optional<int> patient;        // a clinic number (CardNo) of the account
    bool wait = false;                 // book: watch a slot that is not released yet
    // watch (and book --wait): HH:MM[:SS] of the portal's clock, today or tomorrow when past.
    std::optional<std::string> releaseAt;
};

// Defines the commands and options on app; parsing fills options. The
// default of configPath is kept as given.
void DefineCommandLine(CLI::App& app, BookOptions& options);

// What CLI11 cannot say: slots that are no slots, duplicate or too many,
// a slot without its doctor. Fills options.targets. Throws UsageError.
void CheckOptions(BookOptions& options);

} // namespace quilora::book
