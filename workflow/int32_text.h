#pragma once
// Decimal text from a page turned into the portal's 32-bit numbers.
#include <string_view>

#include "common/errors.h"

namespace quilora {

// A captured number that is not a signed 32-bit decimal.
class ConversionError : public QuiloraError {
public:
    using QuiloraError::QuiloraError;
};

// Optional sign and digits only; throws ConversionError for anything else,
// a value outside the 32-bit range included.
int ParseInt32(std::string_view text);

} // namespace quilora
