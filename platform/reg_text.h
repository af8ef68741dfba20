#pragma once
// The Windows .reg text format, as regedit exports and imports it. Parser and
// writer work on strings only (no files), so the store and the tkreg tool can
// share them and tests can feed them text directly.
//
// Reading accepts UTF-8 (with or without BOM) and UTF-16LE with BOM under the
// header "Windows Registry Editor Version 5.00", and Windows-1252 text under
// "REGEDIT4"; CRLF or LF line ends; comments (";" first on a line); blank
// lines; "[-KEY]" (delete a key and everything below it) and "Name"=- (delete
// a value); hex data continued over several lines with a trailing backslash.
// Key paths and names are checked against the limits of reg_tree.h before
// anything is built from them.
//
// Writing produces REGEDIT5 text in UTF-8 without BOM, with LF line ends (the
// store's own format); regTextForWindows turns it into what Windows' registry
// editor writes and reads: UTF-16LE with BOM and CR LF line ends.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_tree.h"

namespace platform {

enum class RegRoot { LocalMachine, CurrentUser };
constexpr RegRoot kAllRegRoots[] = {RegRoot::LocalMachine, RegRoot::CurrentUser};

// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
std::u16string_view regRootName(RegRoot root);
// Recognises a root name (case-insensitively); false when it is none of ours.
bool regRootFromName(std::u16string_view name, RegRoot* root);

// One "Name"=data or "Name"=- line.
struct RegTextValue {
  std::u16string name;
  bool remove = false;
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// One [KEY] or [-KEY] line with the values that follow it.
struct RegTextSection {
  RegRoot root = RegRoot::LocalMachine;
  std::vector<std::u16string> path;  // below the root
  bool remove = false;
  int line = 0;
  std::vector<RegTextValue> values;
};

struct RegTextDocument {
  std::vector<RegTextSection> sections;  // in file order
};

struct RegTextParseResult {
  RegTextDocument document;
  // Empty on success, else "<sourceName>:<line>: <what is wrong>".
  std::string error;
};

// Parses the bytes of a .reg file from outside (an import). sourceName only
// appears in error messages. Key and value names must be storable
// (RegNames::Storable): a name with a control character is an error.
RegTextParseResult parseRegText(std::string_view bytes, std::string_view sourceName);
// Parses a file of the store itself. The same, except that names with
// control characters, which earlier versions accepted on import, are read
// (RegNames::Existing), so that such a key stays readable and deletable and
// the store file does not become unreadable as a whole.
RegTextParseResult parseRegStoreText(std::string_view bytes, std::string_view sourceName);

// Parses the value lines of one key alone, without the header and without
// [KEY] lines (a [KEY] line is an error): what a person writes to fill one
// key. Encodings, comments and value syntax as in a .reg file. On success
// the document has one section (HKEY_LOCAL_MACHINE, empty path) with the
// values; the caller points it at its key.
RegTextParseResult parseRegValueLines(std::string_view bytes, std::string_view sourceName);

// Applies the sections of one root to its tree in file order: creates keys,
// sets and deletes values, deletes keys. Returns whether anything changed.
// The document must be one the parser made, or checked as regImportDocument
// checks a document a program built.
bool applyRegText(const RegTextDocument& document, RegRoot root, RegKey& tree);

// The header line and the blank line after it.
std::string regTextHeader();
// Appends key (whose full name, root included, is fullPath) and every key
// below it: "[fullPath]", its values, a blank line; subkeys in their order.
void appendRegText(std::string& out, const RegKey& key, std::u16string_view fullPath);
// A whole file: the header and the root's tree.
std::string writeRegText(const RegKey& tree, RegRoot root);
// Text of the writer above (UTF-8, LF line ends) as Windows' registry editor
// writes its files, so that one can be opened there: UTF-16LE with a
// byte-order mark, CR LF line ends.
std::string regTextForWindows(std::string_view utf8Text);

}  // namespace platform
