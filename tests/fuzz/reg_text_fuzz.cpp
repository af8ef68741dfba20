// libFuzzer target for the .reg text parser: any bytes, read as an import
// (parseRegText), as a store file (parseRegStoreText) and as the value lines
// of one key (parseRegValueLines), must parse without a crash, a leak or
// undefined behaviour, and give either an error "<source>:<line>: <what>"
// with no document, or a document and no error. An error shows text of the
// file only made safe to print: valid UTF-8 without control characters.
//
// Round trip: a store text that parses is applied to a tree per root; the
// writer's text of that tree must parse again without error and apply to the
// same tree, and so must the same text in the form Windows' registry editor
// writes (UTF-16LE with byte-order mark, CR LF). What an import accepts, the
// store file reader accepts too, with the same document.
//
// Input: the bytes of the file; nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/reg_text.h"

namespace {

using platform::RegKey;
using platform::RegRoot;
using platform::RegTextDocument;
using platform::RegTextParseResult;

void require(bool condition) {
  if (!condition) std::abort();
}

constexpr std::string_view kSource = "fuzz.reg";

// An error names the source and a line from 1 on; a success has no error.
void checkResult(const RegTextParseResult& result) {
  if (result.error.empty()) return;
  require(result.document.sections.empty());
  require(result.error.starts_with(std::string(kSource) + ":"));
  const std::string_view rest = std::string_view(result.error).substr(kSource.size() + 1);
  size_t digits = 0;
  while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
  require(digits > 0 && rest[0] != '0' && rest.substr(digits).starts_with(": "));
  require(platform::isValidUtf8(result.error));
  for (char c : result.error) require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

bool sameValues(const platform::RegTextValue& a, const platform::RegTextValue& b) {
  return a.name == b.name && a.remove == b.remove && a.type == b.type && a.data == b.data;
}

bool sameDocument(const RegTextDocument& a, const RegTextDocument& b) {
  if (a.sections.size() != b.sections.size()) return false;
  for (size_t i = 0; i < a.sections.size(); ++i) {
    const auto& x = a.sections[i];
    const auto& y = b.sections[i];
    if (x.root != y.root || x.path != y.path || x.remove != y.remove || x.line != y.line ||
        x.values.size() != y.values.size())
      return false;
    for (size_t v = 0; v < x.values.size(); ++v) {
      if (!sameValues(x.values[v], y.values[v])) return false;
    }
  }
  return true;
}

// The tree of one root written out and read back is the same tree.
void checkRoundTrip(const RegKey& tree, RegRoot root) {
  const std::string text = platform::writeRegText(tree, root);
  for (const std::string& form : {text, platform::regTextForWindows(text)}) {
    RegTextParseResult again = platform::parseRegStoreText(form, kSource);
    require(again.error.empty());
    RegKey rebuilt;
    rebuilt.name = tree.name;
    platform::applyRegText(again.document, root, rebuilt);
    require(rebuilt == tree);
    // Applying it once more changes nothing.
    require(!platform::applyRegText(again.document, root, rebuilt));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  RegTextParseResult imported = platform::parseRegText(bytes, kSource);
  checkResult(imported);
  RegTextParseResult stored = platform::parseRegStoreText(bytes, kSource);
  checkResult(stored);
  // The store reader lets through everything an import does, and more.
  if (imported.error.empty()) require(stored.error.empty() && sameDocument(imported.document, stored.document));

  RegTextParseResult valueLines = platform::parseRegValueLines(bytes, kSource);
  checkResult(valueLines);
  if (valueLines.error.empty()) require(valueLines.document.sections.size() == 1);

  if (stored.error.empty()) {
    for (RegRoot root : platform::kAllRegRoots) {
      RegKey tree;
      tree.name = std::u16string(platform::regRootName(root));
      platform::applyRegText(stored.document, root, tree);
      checkRoundTrip(tree, root);
    }
  }
  return 0;
}
