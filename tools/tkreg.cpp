// tkreg: reads and changes the registry from the command line, and exports
// and imports .reg files. Text on the command line and on the terminal is UTF-8.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/reg_tree.h"
#include "platform/registry.h"

namespace {

using namespace platform;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = R"(usage:
  tkreg get KEY [NAME]           show a value; without NAME, list the values and subkeys of KEY
  tkreg set KEY NAME --dword N   set a REG_DWORD value (N decimal, or hex with 0x)
  tkreg set KEY NAME --sz TEXT   set a REG_SZ value (stored as UTF-16 with a terminating zero)
  tkreg delete KEY [NAME]        delete a value; without NAME, delete KEY and everything below it
  tkreg export [KEY]             write .reg text of KEY, or of both roots, to standard output
  tkreg import FILE              merge a .reg file into the registry ("-" reads standard input)
  tkreg --help                   show this text

KEY is a root, HKLM, HKCU, HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER (in any
case), optionally followed by a backslash and the path below it, for example
'HKLM\Software\Vendor'. Only the backslash separates key names: '/' is an
ordinary character in a key name, as on Windows. NAME "" is the key's
default value. Names and text are UTF-8.

The registry files are in $TK_ROOT/registry; without TK_ROOT, the root
folder is $XDG_DATA_HOME/tk or ~/.local/share/tk.

Exit status: 0 success, 1 failure (such as a missing key or value, or a
broken registry file), 2 wrong usage.
)";

int usage() {
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

// Reports a failed call: the registry's own message when it has one (it
// names the broken file and line), else what was being done.
int fail(const std::string& what, long rc) {
  std::string detail = registryLastError();
  if (!detail.empty()) {
    std::fprintf(stderr, "tkreg: %s\n", detail.c_str());
  } else {
    const char* reason = rc == kErrorFileNotFound ? "not found"
                         : rc == kErrorAccessDenied ? "access denied"
                         : rc == kErrorBadKey ? "invalid key name"
                         : rc == kErrorInvalidParameter ? "invalid name"
                                                        : "failed";
    std::fprintf(stderr, "tkreg: %s: %s (error %ld)\n", what.c_str(), reason, rc);
  }
  return kExitFailure;
}

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

bool parseKey(std::string_view text, KeyArg* key) {
  key->text = std::string(text);
  size_t slash = text.find('\\');
  std::string_view root = text.substr(0, slash);
  if (equalsNoCase(root, "HKLM") || equalsNoCase(root, "HKEY_LOCAL_MACHINE")) key->root = kHkeyLocalMachine;
  else if (equalsNoCase(root, "HKCU") || equalsNoCase(root, "HKEY_CURRENT_USER")) key->root = kHkeyCurrentUser;
  else return false;
  std::string_view rest = slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
  while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  key->path = utf8ToWide(rest);
  return true;
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

// "REG_DWORD 0x0000000a (10)", "REG_SZ text", "REG_BINARY 01 02 ff".
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
        joined += wideToUtf8(std::u16string_view(text).substr(start, end - start));
        start = end + 1;
      }
      return out + " " + joined;
    }
    return out + " " + wideToUtf8(text.substr(0, text.find(u'\0')));
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
  return out + "\"";
}

void writeOut(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
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
    out += "[" + wideToUtf8(name) + "]\n";
  }
  writeOut(out);
  return kExitOk;
}

int cmdGet(const std::vector<std::string>& args) {
  KeyArg keyArg;
  if (args.size() < 1 || args.size() > 2 || !parseKey(args[0], &keyArg)) return usage();
  OpenKey key;
  if (long rc = regOpenKeyEx(keyArg.root, keyArg.path, &key.handle); rc != kErrorSuccess) {
    return fail("key " + keyArg.text, rc);
  }
  if (args.size() == 1) return listKey(key.handle);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (long rc = readValue(key.handle, utf8ToWide(args[1]), &type, &data); rc != kErrorSuccess) {
    return fail("value \"" + args[1] + "\" of " + keyArg.text, rc);
  }
  writeOut(describeValue(type, data) + "\n");
  return kExitOk;
}

int cmdSet(const std::vector<std::string>& args) {
  KeyArg keyArg;
  if (args.size() != 4 || !parseKey(args[0], &keyArg)) return usage();
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (args[2] == "--dword") {
    uint32_t n = 0;
    if (!parseDword(args[3], &n)) return usage();
    type = kRegDword;
    data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 24)};
  } else if (args[2] == "--sz") {
    if (!isValidUtf8(args[3])) {
      std::fprintf(stderr, "tkreg: the text is not valid UTF-8\n");
      return usage();
    }
    type = kRegSz;
    std::u16string text = utf8ToWide(args[3]);
    text += u'\0';
    data = utf16LeBytes(text);
  } else {
    return usage();
  }
  OpenKey key;
  if (long rc = regCreateKeyEx(keyArg.root, keyArg.path, &key.handle, nullptr); rc != kErrorSuccess) {
    return fail("cannot create " + keyArg.text, rc);
  }
  if (long rc = regSetValueEx(key.handle, utf8ToWide(args[1]), type, data.data(), static_cast<uint32_t>(data.size()));
      rc != kErrorSuccess) {
    return fail("cannot set \"" + args[1] + "\" in " + keyArg.text, rc);
  }
  return kExitOk;
}

int cmdDelete(const std::vector<std::string>& args) {
  KeyArg keyArg;
  if (args.size() < 1 || args.size() > 2 || !parseKey(args[0], &keyArg)) return usage();
  if (args.size() == 1) {
    if (keyArg.path.empty()) {
      std::fprintf(stderr, "tkreg: a root key cannot be deleted\n");
      return kExitFailure;
    }
    long rc = regDeleteTree(keyArg.root, keyArg.path);
    return rc == kErrorSuccess ? kExitOk : fail("key " + keyArg.text, rc);
  }
  OpenKey key;
  if (long rc = regOpenKeyEx(keyArg.root, keyArg.path, &key.handle); rc != kErrorSuccess) {
    return fail("key " + keyArg.text, rc);
  }
  long rc = regDeleteValue(key.handle, utf8ToWide(args[1]));
  return rc == kErrorSuccess ? kExitOk : fail("value \"" + args[1] + "\" of " + keyArg.text, rc);
}

int cmdExport(const std::vector<std::string>& args) {
  if (args.size() > 1) return usage();
  std::string text;
  long rc;
  if (args.empty()) {
    rc = regExportAll(&text);
  } else {
    KeyArg keyArg;
    if (!parseKey(args[0], &keyArg)) return usage();
    rc = regExportKey(keyArg.root, keyArg.path, &text);
    if (rc != kErrorSuccess) return fail("key " + keyArg.text, rc);
  }
  if (rc != kErrorSuccess) return fail("cannot export", rc);
  writeOut(text);
  return kExitOk;
}

int cmdImport(const std::vector<std::string>& args) {
  if (args.size() != 1) return usage();
  std::string bytes;
  if (args[0] == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    bytes = buffer.str();
  } else {
    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "tkreg: cannot open %s: %s\n", args[0].c_str(), std::strerror(errno));
      return kExitFailure;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  long rc = regImport(bytes, args[0] == "-" ? "<stdin>" : args[0]);
  return rc == kErrorSuccess ? kExitOk : fail("cannot import " + args[0], rc);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "get") return cmdGet(args);
  if (command == "set") return cmdSet(args);
  if (command == "delete") return cmdDelete(args);
  if (command == "export") return cmdExport(args);
  if (command == "import") return cmdImport(args);
  return usage();
}
