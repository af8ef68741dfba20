#pragma once
// The link log of the running test case: "vnl2.log" in the case's system
// directory, switched on for this process, so that a test can read back the
// lines (errors, warnings and trace; detail lines are not written).
#include <string>

#include "link/common/link_log.h"
#include "platform/root.h"
#include "tests/support/files.h"

namespace tktest {

class LinkLogCapture {
 public:
  LinkLogCapture() : path_(platform::systemDir() + "/vnl2.log") {
    platform::ensureDirectory(platform::systemDir());
    writeFile(path_, "");
    LinkLogSetup(&mask_);
  }
  ~LinkLogCapture() {
    static uint32_t parked = 0;
    LinkLogSetup(&parked);
  }
  LinkLogCapture(const LinkLogCapture&) = delete;
  LinkLogCapture& operator=(const LinkLogCapture&) = delete;

  std::string Text() const { return readFile(path_); }
  bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  uint32_t mask_ = 0;
};

}  // namespace tktest
