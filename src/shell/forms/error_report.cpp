#include "shell/forms/error_report.h"

#include "jet/error.h"
#include "shell/ui.h"

namespace maquetor::shell {

std::string ErrorReportText(const std::exception& failure) {
  if (const auto* engine = dynamic_cast<const jet::JetError*>(&failure)) {
    return "Error " + std::to_string(engine->number()) + ": " + engine->what();
  }
  return failure.what();
}

void ReportError(const std::exception& failure) {
  CurrentUi().Message(ErrorReportText(failure), "", Icon::kCritical);
}

}  // namespace maquetor::shell
