#pragma once
// The booking transaction: the slot's number list, one free number drawn at
// random, the registration form's selected values, and the registration.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/fetcher.h"
#include "net/portal_address.h"

namespace quilora {

inline constexpr std::string_view kNumberListHeading = "可选预约号:";
inline constexpr std::string_view kBookedMessage = "预约成功, 请进入网页查看！";
inline constexpr std::string_view kNoNumberFreeMessage = "对不起，此预约已没有可选的预约号，未能预约。";
inline constexpr std::string_view kUnansweredMessage =
    "预约请求已发出，但没有收到Quilora服务器的应答，请进入网页查看是否已预约成功。";
// The unknown outcome of a registration answered with an error status.
std::string UnansweredMessage(long status);

struct NumberList {
    std::vector<int> numbers;         // every free number, in page order
    std::vector<std::string> entries; // the whole entries, for the log
    // From the last entry, whichever number is chosen.
    std::string url;
    int provinceId = 0;
    int hospitalId = 0;
};

// The normalised number list answer; a number outside 32 bits throws ConversionError.
// onEntry, when given, sees each whole entry before its numbers are read, so
// that the log shows the entry an error came from.
NumberList ReadNumberList(std::string_view answer,
                          const std::function<void(std::string_view)>& onEntry = nullptr);

// The selected values of the normalised registration form; the defaults stand
// for what the form lacks.
struct FormFields {
    int zhengjiantype = 8;
    std::string zhengjianid;
    std::string year = "1980";
    std::string month = "1";
    std::string day = "1";
    std::string identityNo;
    std::string othercard;
};
FormFields ReadRegistrationForm(std::string_view form);

RegistrationValues RegistrationFor(const NumberList& list, int number, int memberId, const FormFields& form);

// Whether the normalised registration answer (status 200) reports success: it
// holds "成功" and none of the words that turn it into a refusal ("未成功"...).
bool IsBooked(std::string_view answer);

// What the transaction needs from its surroundings.
struct BookingIo {
    // The answer as it came; the rule says which answers are tried again.
    std::function<FetchedPage(const PortalAddress&, AnswerRule)> fetch;
    std::function<void(std::string_view)> log; // a line in the log memo
    std::function<int()> memberId;             // the selected patient, read as each request is built
    // Read just before the registration goes out: true ends the booking there
    // (FetchError, FetchFailure::Cancelled) with nothing sent. May be empty.
    std::function<bool()> stopRequested;
};

enum class BookingOutcome {
    Booked,     // the registration answer (200) reports success
    Refused,    // any other registration answer of status 200: the portal's refusal
    NoNumber,   // the number list holds no number entry; nothing more was sent
    Unanswered, // the registration went out and its outcome is unknown: it may have been taken
};

struct BookingResult {
    BookingOutcome outcome = BookingOutcome::NoNumber;
    // For the user: kBookedMessage, the refusal as the portal worded it
    // (normalised), kNoNumberFreeMessage or the unanswered message.
    std::string message;
    // The whole answer of the registration, when one came (normalised).
    std::string answer;
    int requests = 0; // requests sent, resends included
};

// Runs the three requests in order. The number list and the form are sent
// again while the portal is in trouble (they take nothing). The registration
// goes out once, and again only when it certainly was not taken in; any other
// failure of it is BookingOutcome::Unanswered. A request that never comes right
// before the registration, or a registration that certainly never got in,
// throws FetchError: nothing was booked.
BookingResult RunBooking(const PortalHosts& hosts, const SlotRef& slot, const BookingIo& io);

} // namespace quilora
