// tkreg: reads and changes the registry from the command line, and exports
// and imports .reg files. Text on the command line and on the terminal is UTF-8.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/file_read.h"
#include "platform/printable_text.h"
#include "platform/reg_text.h"
#include "platform/reg_tree.h"
#include "platform/registry.h"

namespace {

using namespace platform;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kCommands = R"(usage:
  tkreg get KEY [NAME]           show a value; without NAME, list the values and subkeys of KEY
  tkreg set KEY NAME --dword N   set a REG_DWORD value (N from 0 to 4294967295, decimal or hex with 0x)
  tkreg set KEY NAME --sz TEXT   set a REG_SZ value (stored as UTF-16 with a terminating zero)
  tkreg delete KEY [NAME]        delete a value; without NAME, delete KEY and everything below it
  tkreg export [--utf8] [KEY]    write .reg text of KEY, or of both roots, to standard output
  tkreg import FILE              merge a .reg file into the registry ("-" reads standard input)
  tkreg --help                   show this text (so does COMMAND --help)
)";

constexpr const char* kDetails = R"(
KEY is a root, HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER (in any
case), optionally followed by a backslash and the path below it, for example
'HKLM\Software\Vendor'. Only the backslash separates key names: '/' is an
ordinary character in a key name, as on Windows. NAME "" is the key's
default value. Names and text are UTF-8.

Limits, as on Windows (in UTF-16 units): a key name at most 255 characters,
a value name at most 16383, a key path at most 512 keys deep and 32767
characters long. Names of new keys and values must not hold control
characters; delete still removes a key or value whose name has them (older
versions let an import create such names).

set writes REG_DWORD (--dword) and REG_SZ (--sz) values; values of other
types come in through import. get shows every type: REG_SZ, REG_EXPAND_SZ
and REG_MULTI_SZ as text (the strings of a REG_MULTI_SZ separated by \0),
REG_DWORD and REG_QWORD in hex and decimal, any other type as hex bytes.
Control characters in names and text are shown escaped (\t, \n, \xHH).

export writes what Windows' registry editor writes: UTF-16LE text with a
byte-order mark, CR LF line ends, the header "Windows Registry Editor
Version 5.00" and long hex data continued on the next line after a
backslash, so the file opens on Windows as it is. With --utf8 it writes the
same text in UTF-8 with LF line ends, for reading on a terminal (the form of
the registry files themselves). import reads both forms, UTF-8 with a
byte-order mark and REGEDIT4 files (Windows-1252); [-KEY] deletes a key and
everything below it, "NAME"=- a value. A file with an error, with a name
that set would refuse or with a path beyond the limits changes nothing; the
message names the file and line. A FILE whose name starts with '-' is given
as ./-name.

The registry files are in $TK_ROOT/registry; without TK_ROOT, the root
folder is $XDG_DATA_HOME/tk or ~/.local/share/tk.

Exit status: 0 success; 1 failure (such as a missing key or value, a file
that cannot be read or has an error, a broken registry file, standard
output that cannot be written); 2 wrong usage (an unknown command or option,
a missing or extra argument, a bad number, a key path or name that is not
allowed).
)";

int help() {
  std::fputs(kCommands, stdout);
  std::fputs(kDetails, stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

// Wrong usage: the problem first, then the commands (for a wrong command or
// wrong arguments) or a hint (for a bad key, name or number).
enum class Hint { Commands, Short };
int usageError(const std::string& problem, Hint hint = Hint::Short) {
  std::fprintf(stderr, "tkreg: %s\n%s", printableText(problem).c_str(), hint == Hint::Commands ? kCommands : "");
  std::fputs("Run 'tkreg --help' for the usage in full.\n", stderr);
  return kExitUsage;
}

// An argument as messages show it: quoted and cut short when long (a
// terminal escapes come later, over the whole message).
std::string shown(std::string_view arg) {
  constexpr size_t kShown = 80;
  if (arg.size() <= kShown) return "'" + std::string(arg) + "'";
  size_t cut = kShown;
  while (cut > 0 && (static_cast<unsigned char>(arg[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
  return "'" + std::string(arg.substr(0, cut)) + "...'";
}

// Reports a failed call: the registry's own message when it has one (it
// names the broken file and line), else what was being done.
int fail(const std::string& what, long rc) {
  std::string detail = registryLastError();
  if (!detail.empty()) {
    std::fprintf(stderr, "tkreg: %s\n", printableText(detail).c_str());
  } else {
    const char* reason = rc == kErrorFileNotFound ? "not found"
                         : rc == kErrorAccessDenied ? "access denied"
                         : rc == kErrorKeyDeleted ? "the key was deleted meanwhile"
                         : rc == kErrorBadKey ? "invalid key name"
                         : rc == kErrorInvalidParameter ? "invalid name"
                                                        : "failed";
    std::fprintf(stderr, "tkreg: %s: %s (error %ld)\n", printableText(what).c_str(), reason, rc);
  }
  return kExitFailure;
}

bool isOption(std::string_view arg) { return arg.size() > 1 && arg[0] == '-'; }

struct KeyArg {
  RegKeyHandle root = nullptr;
  std::u16string path;
  std::string text;  // as given, for messages
};

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// Reads KEY. names is the rule for the names in its path: RegNames::Storable
// where a key may be created. Returns what is wrong, or "" when nothing is.
std::string parseKey(std::string_view text, RegNames names, KeyArg* key) {
  if (isOption(text)) return "unknown option " + std::string(text);
  if (!isValidUtf8(text)) return "the key " + shown(text) + " is not valid UTF-8";
  key->text = std::string(text);
  size_t slash = text.find('\\');
  std::string_view root = text.substr(0, slash);
  if (equalsNoCase(root, "HKLM") || equalsNoCase(root, "HKEY_LOCAL_MACHINE")) {
    key->root = kHkeyLocalMachine;
  } else if (equalsNoCase(root, "HKCU") || equalsNoCase(root, "HKEY_CURRENT_USER")) {
    key->root = kHkeyCurrentUser;
  } else {
    return "unknown root key " + shown(root) + (slash == std::string_view::npos ? "" : " in " + shown(text)) +
           " (a key starts with HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, then a backslash and the path)";
  }
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  key->path = utf8ToWide(rest);
  std::vector<std::u16string> components;
  if (std::string problem = splitRegKeyPath(key->path, names, &components); !problem.empty()) {
    return "bad key " + shown(text) + ": " + problem;
  }
  return {};
}

// Reads a value NAME; what is wrong, or "" when nothing is.
std::string parseName(const std::string& text, RegNames names, std::u16string* name) {
  if (!isValidUtf8(text)) return "the value name " + shown(text) + " is not valid UTF-8";
  *name = utf8ToWide(text);
  return regValueNameProblem(*name, names);
}

bool parseDword(std::string_view text, uint32_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 10) return false;
  uint64_t n = 0;
  for (char c : text) {
    int digit = (c >= '0' && c <= '9') ? c - '0'
                : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (base == 16 && c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                       : -1;
    if (digit < 0) return false;
    n = n * base + static_cast<uint64_t>(digit);
    if (n > 0xFFFFFFFFu) return false;
  }
  *value = static_cast<uint32_t>(n);
  return true;
}

std::string typeName(uint32_t type) {
  switch (type) {
    case kRegNone: return "REG_NONE";
    case kRegSz: return "REG_SZ";
    case kRegExpandSz: return "REG_EXPAND_SZ";
    case kRegBinary: return "REG_BINARY";
    case kRegDword: return "REG_DWORD";
    case kRegMultiSz: return "REG_MULTI_SZ";
    case kRegQword: return "REG_QWORD";
    default: return "REG_TYPE(" + std::to_string(type) + ")";
  }
}

std::string hexBytes(const std::vector<uint8_t>& data) {
  std::string out;
  char byte[4];
  for (uint8_t b : data) {
    std::snprintf(byte, sizeof byte, out.empty() ? "%02x" : " %02x", b);
    out += byte;
  }
  return out;
}

// "REG_DWORD 0x0000000a (10)", "REG_SZ text", "REG_BINARY 01 02 ff"; text is
// made safe for a terminal.
std::string describeValue(uint32_t type, const std::vector<uint8_t>& data) {
  std::string out = typeName(type);
  char number[64];
  if (type == kRegDword && data.size() == 4) {
    uint32_t n = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<uint32_t>(data[3]) << 24);
    std::snprintf(number, sizeof number, " 0x%08" PRIx32 " (%" PRIu32 ")", n, n);
    return out + number;
  }
  if (type == kRegQword && data.size() == 8) {
    uint64_t n = 0;
    for (int i = 7; i >= 0; --i) n = (n << 8) | data[i];
    std::snprintf(number, sizeof number, " 0x%016" PRIx64 " (%" PRIu64 ")", n, n);
    return out + number;
  }
  if (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz) {
    std::u16string text = utf16FromLeBytes(data.data(), data.size());
    if (type == kRegMultiSz) {  // the strings, separated by \0 as reg.exe shows them
      while (!text.empty() && text.back() == u'\0') text.pop_back();
      std::string joined;
      for (size_t start = 0; start <= text.size();) {
        size_t end = std::min(text.find(u'\0', start), text.size());
        if (start > 0) joined += "\\0";
        joined += printableText(wideToUtf8(std::u16string_view(text).substr(start, end - start)));
        start = end + 1;
      }
      return out + " " + joined;
    }
    return out + " " + printableText(wideToUtf8(text.substr(0, text.find(u'\0'))));
  }
  return data.empty() ? out : out + " " + hexBytes(data);
}

std::string quotedName(const std::u16string& name) {
  if (name.empty()) return "@";
  std::string out = "\"";
  for (char c : wideToUtf8(name)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return printableText(out + "\"");
}

// Writes to standard output; false (with a message) when that fails, say on
// a full disk, so a broken export is not reported as done.
bool writeOut(const std::string& text) {
  bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  ok = std::fflush(stdout) == 0 && ok;
  if (!ok) std::fprintf(stderr, "tkreg: cannot write to standard output: %s\n", platform::lastStreamErrorText().c_str());
  return ok;
}

// Reads a value whole, whatever its size.
long readValue(RegKeyHandle key, const std::u16string& name, uint32_t* type, std::vector<uint8_t>* data) {
  for (int attempt = 0; attempt < 8; ++attempt) {  // the value may grow between the calls
    uint32_t size = 0;
    if (long rc = regQueryValueEx(key, name, type, nullptr, &size); rc != kErrorSuccess) return rc;
    data->resize(size);
    long rc = regQueryValueEx(key, name, type, data->data(), &size);
    if (rc == kErrorMoreData) continue;
    data->resize(size);
    return rc;
  }
  return kErrorMoreData;
}

class OpenKey {
 public:
  ~OpenKey() {
    if (handle) regCloseKey(handle);
  }
  RegKeyHandle handle = nullptr;
};

int listKey(RegKeyHandle key) {
  std::string out;
  for (uint32_t i = 0;; ++i) {
    std::u16string name;
    uint32_t type = 0;
    uint32_t size = 0;
    long rc = regEnumValue(key, i, &name, &type, nullptr, &size);
    if (rc == kErrorNoMoreItems) break;
    if (rc != kErrorSuccess) return fail("cannot list the values", rc);
    std::vector<uint8_t> data;
    if (rc = readValue(key, name, &type, &data); rc != kErrorSuccess) return fail("cannot read a value", rc);
    out += quotedName(name) + " " + describeValue(type, data) + "\n";
  }
  for (uint32_t i = 0;; ++i) {
    std::u16string name;
    long rc = regEnumKeyEx(key, i, &name);
    if (rc == kErrorNoMoreItems) break;
    if (rc != kErrorSuccess) return fail("cannot list the subkeys", rc);
    out += "[" + printableText(wideToUtf8(name)) + "]\n";
  }
  return writeOut(out) ? kExitOk : kExitFailure;
}

int cmdGet(const std::vector<std::string>& args) {
  if (args.empty()) return usageError("get needs KEY", Hint::Commands);
  if (args.size() > 2) return usageError("too many arguments for get: " + shown(args[2]), Hint::Commands);
  KeyArg keyArg;
  if (std::string problem = parseKey(args[0], RegNames::Existing, &keyArg); !problem.empty()) {
    return usageError(problem);
  }
  std::u16string name;
  if (args.size() == 2) {
    if (std::string problem = parseName(args[1], RegNames::Existing, &name); !problem.empty()) {
      return usageError(problem);
    }
  }
  OpenKey key;
  if (long rc = regOpenKeyEx(keyArg.root, keyArg.path, &key.handle); rc != kErrorSuccess) {
    return fail("key " + keyArg.text, rc);
  }
  if (args.size() == 1) return listKey(key.handle);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (long rc = readValue(key.handle, name, &type, &data); rc != kErrorSuccess) {
    return fail("value \"" + args[1] + "\" of " + keyArg.text, rc);
  }
  return writeOut(describeValue(type, data) + "\n") ? kExitOk : kExitFailure;
}

int cmdSet(const std::vector<std::string>& args) {
  if (args.size() < 3) return usageError("set needs KEY, NAME and the value: --dword N or --sz TEXT", Hint::Commands);
  KeyArg keyArg;
  if (std::string problem = parseKey(args[0], RegNames::Storable, &keyArg); !problem.empty()) {
    return usageError(problem);
  }
  std::u16string name;
  if (std::string problem = parseName(args[1], RegNames::Storable, &name); !problem.empty()) {
    return usageError(problem);
  }
  const std::string& option = args[2];
  if (option != "--dword" && option != "--sz") {
    if (isOption(option)) return usageError("unknown option " + option + " (set takes --dword N or --sz TEXT)");
    return usageError("set takes the value as --dword N or --sz TEXT, not " + shown(option));
  }
  if (args.size() > 4) return usageError("too many arguments for set: " + shown(args[4]), Hint::Commands);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (option == "--dword") {
    uint32_t n = 0;
    if (args.size() < 4 || !parseDword(args[3], &n)) {
      return usageError("--dword needs a number from 0 to 4294967295 (decimal, or hex with 0x)" +
                        (args.size() < 4 ? std::string() : ", not " + shown(args[3])));
    }
    type = kRegDword;
    data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 24)};
  } else {
    if (args.size() < 4) return usageError("--sz needs the text");
    if (!isValidUtf8(args[3])) return usageError("the text after --sz is not valid UTF-8");
    type = kRegSz;
    std::u16string text = utf8ToWide(args[3]);
    text += u'\0';
    data = utf16LeBytes(text);
  }
  OpenKey key;
  if (long rc = regCreateKeyEx(keyArg.root, keyArg.path, &key.handle, nullptr); rc != kErrorSuccess) {
    return fail("cannot create " + keyArg.text, rc);
  }
  if (long rc = regSetValueEx(key.handle, name, type, data.data(), static_cast<uint32_t>(data.size()));
      rc != kErrorSuccess) {
    return fail("cannot set \"" + args[1] + "\" in " + keyArg.text, rc);
  }
  return kExitOk;
}

int cmdDelete(const std::vector<std::string>& args) {
  if (args.empty()) return usageError("delete needs KEY", Hint::Commands);
  if (args.size() > 2) return usageError("too many arguments for delete: " + shown(args[2]), Hint::Commands);
  KeyArg keyArg;
  if (std::string problem = parseKey(args[0], RegNames::Existing, &keyArg); !problem.empty()) {
    return usageError(problem);
  }
  if (args.size() == 1) {
    if (keyArg.path.empty()) {
      std::fprintf(stderr, "tkreg: a root key cannot be deleted\n");
      return kExitFailure;
    }
    long rc = regDeleteTree(keyArg.root, keyArg.path);
    return rc == kErrorSuccess ? kExitOk : fail("key " + keyArg.text, rc);
  }
  std::u16string name;
  if (std::string problem = parseName(args[1], RegNames::Existing, &name); !problem.empty()) {
    return usageError(problem);
  }
  OpenKey key;
  if (long rc = regOpenKeyEx(keyArg.root, keyArg.path, &key.handle); rc != kErrorSuccess) {
    return fail("key " + keyArg.text, rc);
  }
  long rc = regDeleteValue(key.handle, name);
  return rc == kErrorSuccess ? kExitOk : fail("value \"" + args[1] + "\" of " + keyArg.text, rc);
}

int cmdExport(const std::vector<std::string>& args) {
  bool utf8 = false;
  std::vector<std::string> keys;
  for (const std::string& arg : args) {
    if (arg == "--utf8") utf8 = true;
    else if (isOption(arg)) return usageError("unknown option " + arg + " (export takes --utf8)");
    else keys.push_back(arg);
  }
  if (keys.size() > 1) return usageError("too many arguments for export: " + shown(keys[1]), Hint::Commands);
  std::string text;
  if (keys.empty()) {
    if (long rc = regExportAll(&text); rc != kErrorSuccess) return fail("cannot export", rc);
  } else {
    KeyArg keyArg;
    if (std::string problem = parseKey(keys[0], RegNames::Existing, &keyArg); !problem.empty()) {
      return usageError(problem);
    }
    if (long rc = regExportKey(keyArg.root, keyArg.path, &text); rc != kErrorSuccess) {
      return fail("key " + keyArg.text, rc);
    }
  }
  return writeOut(utf8 ? text : regTextForWindows(text)) ? kExitOk : kExitFailure;
}

// Reads standard input to its end; false (with a message) when that fails.
bool readStandardInput(std::string* bytes) {
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) bytes->append(buffer, n);
  if (std::ferror(stdin)) {
    std::fprintf(stderr, "tkreg: cannot read standard input: %s\n", platform::lastStreamErrorText().c_str());
    return false;
  }
  return true;
}

int cmdImport(const std::vector<std::string>& args) {
  if (args.empty()) return usageError("import needs FILE (or - for standard input)", Hint::Commands);
  if (isOption(args[0])) {
    return usageError("unknown option " + args[0] + " (a FILE whose name starts with '-' is given as ./" +
                      args[0] + ")");
  }
  if (args.size() > 1) return usageError("too many arguments for import: " + shown(args[1]), Hint::Commands);
  std::string bytes;
  bool fromStdin = args[0] == "-";
  if (fromStdin) {
    if (!readStandardInput(&bytes)) return kExitFailure;
  } else if (std::string error; !readWholeFileText(args[0], &bytes, &error)) {
    std::fprintf(stderr, "tkreg: %s\n", printableText(error).c_str());
    return kExitFailure;
  }
  long rc = regImport(bytes, fromStdin ? "<stdin>" : args[0]);
  return rc == kErrorSuccess ? kExitOk : fail("cannot import " + args[0], rc);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usageError("no command given", Hint::Commands);
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") return help();
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    if (command == "get" || command == "set" || command == "delete" || command == "export" || command == "import") {
      return help();
    }
  }
  if (command == "get") return cmdGet(args);
  if (command == "set") return cmdSet(args);
  if (command == "delete") return cmdDelete(args);
  if (command == "export") return cmdExport(args);
  if (command == "import") return cmdImport(args);
  if (isOption(command)) return usageError("unknown option " + command, Hint::Commands);
  return usageError("unknown command " + shown(command), Hint::Commands);
}
