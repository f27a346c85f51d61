#pragma once
// Error types that end the running handler. The application's notify override
// reports QuiloraError (and any std::exception) and swallows SilentAbort.
#include <stdexcept>
#include <string>

namespace quilora {

// An error shown by the default error report, text in UTF-8.
class QuiloraError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How a portal request failed.
enum class FetchFailure {
    Refused,     // the connection was refused: the request never reached the portal
    TimedOut,    // no (whole) answer in time
    Dropped,     // the connection closed or broke without an answer
    Empty,       // an answer without a body
    ErrorStatus, // an answer whose status the caller does not take
    Unreadable,  // an answer that could not be read (too large)
    Network,     // the host could not be found, or another network error
    Cancelled,   // the user stopped the wait (never a registration under way)
};

// A portal request that gave up after its attempts; the text is one line.
class FetchError : public QuiloraError {
public:
    FetchError(const std::string& text, FetchFailure failure, long status = 0, bool mayHaveArrived = false)
        : QuiloraError(text), failure_(failure), status_(status), mayHaveArrived_(mayHaveArrived) {}
    FetchFailure Failure() const { return failure_; }
    // The HTTP status of the last answer, 0 when none came.
    long Status() const { return status_; }
    // The request may have reached the portal and been acted on; what came
    // of it is unknown. Only a registration cares.
    bool MayHaveArrived() const { return mayHaveArrived_; }

private:
    FetchFailure failure_;
    long status_;
    bool mayHaveArrived_;
};

// A database or connection failure; the text is the driver's own.
class DatabaseError : public QuiloraError {
public:
    using QuiloraError::QuiloraError;
};

// Thrown after a hint has been shown: unwinds the handler and shows nothing more.
class SilentAbort {};

} // namespace quilora
