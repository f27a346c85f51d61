#pragma once
// The booking transaction: the slot's number list, one free number drawn at
// random, the registration form's selected values, and the registration.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/fetcher.h"
#include "scan/portal_address.h"

namespace quilora {

inline constexpr std::string_view kNumberListHeading = "可选预约号:";
inline constexpr std::string_view kBookedMessage = "预约成功, 请进入网页查看！";
inline constexpr std::string_view kNoNumberFreeMessage = "对不起，此预约已没有可选的预约号，未能预约。";

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

// Whether the normalised registration answer reports success.
bool IsBooked(std::string_view answer);

// What the transaction needs from its surroundings.
struct BookingIo {
    std::function<std::string(const PortalAddress&)> fetch; // the answer as it came
    std::function<void(std::string_view)> log;              // a line in the log memo
    std::function<int()> memberId; // the selected patient, read as each request is built
};

// Runs the three requests in order and gives the message for the user:
// kBookedMessage, the refusal as the portal worded it (normalised), or
// kNoNumberFreeMessage when the list holds no number (nothing more is sent).
std::string RunBooking(const PortalHosts& hosts, const SlotRef& slot, const BookingIo& io);

} // namespace quilora
