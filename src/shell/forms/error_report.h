// The general error report of the desktop: a failure that ends an operation
// is shown in a critical box, and the window stays open.
#pragma once

#include <exception>
#include <string>

namespace maquetor::shell {

// "Error 3024: <the engine's message>" for an engine error; the text of any
// other failure as it is.
std::string ErrorReportText(const std::exception& failure);

// Shows ErrorReportText in a critical box with the program title.
void ReportError(const std::exception& failure);

}  // namespace maquetor::shell
