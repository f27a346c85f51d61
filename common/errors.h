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

// A portal request that gave up after its attempts.
class FetchError : public QuiloraError {
public:
    using QuiloraError::QuiloraError;
};

// A database or connection failure; the text is the driver's own.
class DatabaseError : public QuiloraError {
public:
    using QuiloraError::QuiloraError;
};

// Thrown after a hint has been shown: unwinds the handler and shows nothing more.
class SilentAbort {};

} // namespace quilora
