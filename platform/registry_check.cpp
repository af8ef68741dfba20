#include "platform/registry_check.h"

#include "platform/win_error.h"

namespace platform {

long checkRegTextDocument(const RegTextDocument& document, std::string* message) {
  for (size_t i = 0; i < document.sections.size(); ++i) {
    const RegTextSection& section = document.sections[i];
    long rc = kErrorBadKey;
    std::string problem = regKeyPathProblem(section.path, RegNames::Storable);
    if (problem.empty() && section.remove && section.path.empty()) {
      problem = "a root key cannot be deleted";
      rc = kErrorAccessDenied;
    } else if (problem.empty() && section.remove && !section.values.empty()) {
      problem = "a deleted key cannot have values";
      rc = kErrorInvalidParameter;
    }
    for (size_t v = 0; problem.empty() && v < section.values.size(); ++v) {
      problem = regValueNameProblem(section.values[v].name, RegNames::Storable);
      rc = kErrorInvalidParameter;
    }
    if (!problem.empty()) {
      std::string where = "key section " + std::to_string(i + 1);
      if (section.line > 0) where += " (line " + std::to_string(section.line) + ")";
      *message = where + ": " + problem;
      return rc;
    }
  }
  return kErrorSuccess;
}

}  // namespace platform
