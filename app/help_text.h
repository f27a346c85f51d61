#pragma once
// The 20 lines of the help page.
#include <QStringList>
#include <string>

namespace quilora {

QStringList HelpLines(const std::string& homeAddress);

} // namespace quilora
