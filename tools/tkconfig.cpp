// tkconfig: the telephony control panel. Lists, adds, configures and removes
// the providers of the telephony service (tapisrv) of $TK_ROOT, and opens a
// line device's configuration dialog, all through libtapi32 as any
// application does.
//
// In: one command and its argument. Out: the provider list or the new
// provider's permanent ID on standard output, errors on standard error,
// exit 0 done, 1 failed, 2 wrong usage.
//
// The dialogs run in this process: libtapi32 loads the provider's UI module
// here and calls its TUISPI function on the main thread, which is the thread
// the dialog layer runs dialogs on; the module talks to its provider inside
// tapisrv through libtapi32's callback. No threads of our own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/printable_text.h"
#include "platform/root.h"
#include "platform/ui/dialog.h"
#include "tapi/tapi32.h"
#include "tapi/tapi_names.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr DWORD kApiVersion = TAPI_VERSION2_0;

constexpr const char* kUsage = R"USAGE(usage: tkconfig COMMAND [ARGUMENT]

The telephony control panel: the providers of the telephony service running
for $TK_ROOT (start it with tapisrv) and their configuration dialogs.

commands:
  providers          list the providers, one a line: permanent ID and file
  add FILE           add the provider plug-in FILE; its install dialog, if it
                     has one, runs first (Cancel there adds nothing). Prints
                     the new permanent ID. The service starts the provider at
                     once: applications get LINE_CREATE for its lines
  configure ID       open the configuration dialog of provider ID; what it
                     changes reaches running applications (LINE_CREATE and
                     LINE_REMOVE for lines that come and go)
  remove ID          remove provider ID (after its remove dialog, if any); its
                     lines go away (LINE_CLOSE, LINE_REMOVE)
  line DEVICE        open the configuration dialog of line device DEVICE
                     (numbered from 0 as applications see them)

options:
  --help             show this text

The dialogs need a display: DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM
(the tests' "offscreen" draws into memory, where only a test can answer).

Exit status: 0 done, 1 failed (the service is not running, an unknown ID or
device, a provider without a dialog, a dialog that cannot be shown, or the
request refused: its LINEERR_ code is shown), 2 wrong usage.
)USAGE";

std::string shown(const std::string& text) { return platform::printableText(text); }

int usage(const std::string& problem) {
  std::fprintf(stderr, "tkconfig: %s (try --help)\n", problem.c_str());
  return kExitUsage;
}

int failed(const std::string& what) {
  std::fprintf(stderr, "tkconfig: %s\n", what.c_str());
  return kExitFailure;
}

// "LINEERR_INVALPARAM", with the number for a code that has no name.
std::string resultText(LONG rc) {
  const char* name = tapi::FindName(tapi::TapiFamily::LineErr, static_cast<DWORD>(rc));
  char number[16];
  std::snprintf(number, sizeof number, "0x%08X", static_cast<unsigned>(rc));
  return name != nullptr ? name : std::string("result ") + number;
}

std::string notRunning() {
  return "tapisrv is not running for " + shown(platform::rootDir()) + ": start it with tapisrv";
}

// What went wrong with a request, said the same way for every command.
int refused(const std::string& what, LONG rc) {
  if (rc == LINEERR_NODRIVER) return failed(notRunning());
  return failed(what + ": " + resultText(rc));
}

struct Provider {
  DWORD id = 0;
  std::string file;
};

// The service's provider list.
LONG providerList(std::vector<Provider>* providers) {
  std::vector<uint8_t> buffer(4096);
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto* list = reinterpret_cast<LINEPROVIDERLIST*>(buffer.data());
    list->dwTotalSize = static_cast<DWORD>(buffer.size());
    if (LONG rc = lineGetProviderListW(kApiVersion, list); rc != 0) return rc;
    if (list->dwNeededSize > list->dwTotalSize) {
      buffer.assign(list->dwNeededSize, 0);
      continue;
    }
    const uint64_t entries = list->dwNumProviders;
    if (list->dwUsedSize > buffer.size() ||
        list->dwProviderListOffset + entries * sizeof(LINEPROVIDERENTRY) > list->dwUsedSize) {
      return LINEERR_OPERATIONFAILED;
    }
    for (uint64_t i = 0; i < entries; ++i) {
      LINEPROVIDERENTRY entry;
      std::memcpy(&entry, buffer.data() + list->dwProviderListOffset + i * sizeof entry, sizeof entry);
      if (uint64_t{entry.dwProviderFilenameOffset} + entry.dwProviderFilenameSize > list->dwUsedSize) {
        return LINEERR_OPERATIONFAILED;
      }
      std::u16string file(entry.dwProviderFilenameSize / 2, u'\0');
      std::memcpy(file.data(), buffer.data() + entry.dwProviderFilenameOffset, file.size() * 2);
      while (!file.empty() && file.back() == u'\0') file.pop_back();
      providers->push_back(Provider{entry.dwPermanentProviderID, platform::wideToUtf8(file)});
    }
    return 0;
  }
  return LINEERR_OPERATIONFAILED;
}

// The listed provider of that ID; prints why not and sets *exitCode otherwise.
std::optional<Provider> findProvider(DWORD id, int* exitCode) {
  std::vector<Provider> providers;
  if (LONG rc = providerList(&providers); rc != 0) {
    *exitCode = refused("cannot read the provider list", rc);
    return std::nullopt;
  }
  for (const Provider& p : providers) {
    if (p.id == id) return p;
  }
  *exitCode = failed("no provider with ID " + std::to_string(id) + " (tkconfig providers lists them)");
  return std::nullopt;
}

// The number of line devices the service has; nothing (and *exitCode set) when it cannot be asked.
std::optional<DWORD> lineCount(int* exitCode) {
  HLINEAPP app = 0;
  DWORD devices = 0, version = kApiVersion;
  LINEINITIALIZEEXPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
  if (LONG rc = lineInitializeExW(&app, nullptr, nullptr, u"tkconfig", &devices, &version, &params); rc != 0) {
    *exitCode = refused("cannot ask the service for its line devices", rc);
    return std::nullopt;
  }
  lineShutdown(app);
  return devices;
}

// Dialogs cannot be shown without a display; says so before one is tried.
bool displayReady(int* exitCode) {
  std::string why;
  if (platform::ui::DisplayAvailable(&why)) return true;
  *exitCode = failed("cannot show the dialog: " + why);
  return false;
}

// A failed dialog request, with the display named when there is none (the
// dialog could not be shown then, whatever code the module gave back).
int dialogFailed(const std::string& what, LONG rc) {
  std::string why;
  if (rc != LINEERR_NODRIVER && !platform::ui::DisplayAvailable(&why)) {
    return failed(what + ": " + resultText(rc) + " (" + why + ")");
  }
  return refused(what, rc);
}

int listProviders() {
  std::vector<Provider> providers;
  if (LONG rc = providerList(&providers); rc != 0) return refused("cannot read the provider list", rc);
  for (const Provider& p : providers) std::printf("%u %s\n", static_cast<unsigned>(p.id), shown(p.file).c_str());
  return kExitOk;
}

int addProvider(const std::string& file) {
  // The service loads the plug-in from its own working folder: hand it a full path.
  std::error_code ec;
  const fs::path path = fs::absolute(file, ec);
  if (ec || !fs::is_regular_file(path, ec)) return failed(shown(file) + ": no such file");
  DWORD id = 0;
  // The W function: a path is UTF-8 here, the A functions take Windows-1252.
  const LONG rc = lineAddProviderW(platform::utf8ToWide(path.string()).c_str(), nullptr, &id);
  if (rc == LINEERR_NOMULTIPLEINSTANCE) {
    return failed("cannot add " + shown(path.string()) + ": it is in the provider list already (" + resultText(rc) +
                  ")");
  }
  if (rc != 0) return dialogFailed("cannot add " + shown(path.string()), rc);
  std::printf("%u\n", static_cast<unsigned>(id));
  return kExitOk;
}

int configureProvider(DWORD id) {
  int exitCode = kExitFailure;
  const std::optional<Provider> provider = findProvider(id, &exitCode);
  if (!provider || !displayReady(&exitCode)) return exitCode;
  const std::string which = "provider " + std::to_string(id) + " (" + shown(provider->file) + ")";
  const LONG rc = lineConfigProvider(nullptr, id);
  if (rc == LINEERR_OPERATIONUNAVAIL) return failed(which + " has no configuration dialog");
  if (rc != 0) return dialogFailed("configuration of " + which + " failed", rc);
  return kExitOk;
}

int removeProvider(DWORD id) {
  int exitCode = kExitFailure;
  const std::optional<Provider> provider = findProvider(id, &exitCode);
  if (!provider) return exitCode;
  const LONG rc = lineRemoveProvider(id, nullptr);
  if (rc != 0) {
    return dialogFailed("cannot remove provider " + std::to_string(id) + " (" + shown(provider->file) + ")", rc);
  }
  return kExitOk;
}

int configureLine(DWORD device) {
  int exitCode = kExitFailure;
  const std::optional<DWORD> lines = lineCount(&exitCode);
  if (!lines) return exitCode;
  if (device >= *lines) {
    return failed("no line device " + std::to_string(device) + " (the service has " + std::to_string(*lines) +
                  (*lines == 1 ? " line device" : " line devices") + ", numbered from 0)");
  }
  if (!displayReady(&exitCode)) return exitCode;
  const LONG rc = lineConfigDialogA(device, nullptr, nullptr);
  if (rc == LINEERR_OPERATIONUNAVAIL) {
    return failed("line device " + std::to_string(device) + " has no configuration dialog (its provider has none)");
  }
  if (rc != 0) return dialogFailed("configuration of line device " + std::to_string(device) + " failed", rc);
  return kExitOk;
}

// A decimal number that fits a DWORD.
std::optional<DWORD> parseNumber(const std::string& text) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned long long value = std::stoull(text);
  if (value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<DWORD>(value);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words;
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option " + shown(arg));
    } else {
      words.push_back(arg);
    }
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (words.empty()) return usage("no command given");

  const std::string& command = words[0];
  const struct {
    const char* name;
    const char* argument;  // nullptr: the command takes none
  } commands[] = {{"providers", nullptr}, {"add", "FILE"}, {"configure", "ID"}, {"remove", "ID"}, {"line", "DEVICE"}};
  const auto* known = std::find_if(std::begin(commands), std::end(commands),
                                   [&](const auto& c) { return command == c.name; });
  if (known == std::end(commands)) return usage("unknown command " + shown(command));
  const size_t wanted = known->argument ? 2 : 1;
  if (words.size() < wanted) return usage(command + " needs " + known->argument);
  if (words.size() > wanted) return usage("too many arguments for " + command + ": " + shown(words[wanted]));

  if (command == "providers") return listProviders();
  if (command == "add") return addProvider(words[1]);
  const std::optional<DWORD> number = parseNumber(words[1]);
  if (!number) return usage(command + ": " + known->argument + " " + shown(words[1]) + " is no number");
  if (command == "configure") return configureProvider(*number);
  if (command == "remove") return removeProvider(*number);
  return configureLine(*number);
}
