#pragma once
// What quilora-book reads before it talks to anybody: Config.ini (the window's
// own) and, when given, the password file. Everything missing is a usage error.
#include <optional>
#include <string>

#include "common/errors.h"
#include "net/portal_address.h"

namespace quilora::book {

// Bad usage or a Config.ini the tool cannot work with: exit code 2.
class UsageError : public QuiloraError {
public:
    using QuiloraError::QuiloraError;
};

struct BookSettings {
    std::string configPath;
    std::string connect; // the catalogue, relative SQLite paths from the folder of Config.ini
    PortalHosts hosts;
    std::string cardNo;
    std::string password;
};

// The first line of the file, its trailing CR/LF dropped; throws UsageError
// when the file cannot be read.
std::string ReadPasswordFile(const std::string& path);

// Throws UsageError for a missing Config.ini, no CardNo, or no password in
// either place (the password file wins over Passwd).
BookSettings ReadBookSettings(const std::string& configPath, const std::optional<std::string>& passwordFile);

} // namespace quilora::book
