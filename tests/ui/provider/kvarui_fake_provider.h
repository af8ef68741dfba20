#pragma once
// A scripted provider for KVARUI's tests: FakeProviderCallback answers the
// request blocks from the tables of FakeProvider::current() and logs every
// request in a short form ("code", "code:arg1", "code:arg1:arg2",
// "code'text'" or "code'text':arg2", as the request uses its arguments).
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tapi/tspi.h"

namespace kvarui_test {

struct FakeExtension {
  std::u16string number;
  uint32_t lineId = 0;
  bool inUse = false;
  uint32_t handsfree = 0;
};

struct FakePrefix {
  std::u16string text;
  uint32_t use = 1;
};

struct FakeProvider {
  std::vector<FakeExtension> table;     // the provider's extension table
  std::vector<FakeExtension> exchange;  // what reading the exchange (12) puts into it
  std::vector<std::u16string> msns;
  std::u16string lineName = u"Marlix TK-Anlage";
  FakePrefix prefixes[3] = {{u"0", 1}, {u"0", 1}, {u"00", 1}};
  uint32_t lock = 1, linkInit = 0, linkMessage = 0, connect = 0, read = 0, disconnect = 0;
  bool inUse = false, firstConfig = false, ownLine = true;
  std::set<uint32_t> failing;       // requests the callback fails (returns nonzero)
  std::set<uint32_t> unterminated;  // requests whose output text has no terminator
  std::vector<std::string> log;

  static FakeProvider& current();
  std::string requests() const;  // the log joined with blanks
};

LONG FakeProviderCallback(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size);

}  // namespace kvarui_test
