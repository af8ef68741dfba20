// tksetup: prepares a root folder (TK_ROOT) for the provider to reach an
// exchange on this machine: the link configuration (LAN to 127.0.0.1 and a
// port), the link control program in the system directory, the provider in
// TAPI's provider list and the provider's configuration. For demos and
// trials with the simulated exchange.
//
// A run is all or nothing: every option and every file named is checked
// before anything is written, and when a write still fails, what the run had
// changed so far is put back. A second run for the same provider file reuses
// its entry in the provider list instead of adding another one.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "link/common/link_config.h"
#include "platform/codepage.h"
#include "platform/file_read.h"
#include "platform/printable_text.h"
#include "platform/process.h"
#include "platform/reg_text.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tapi/host/provider_list.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kDefaultComPort = 2;  // the exchange's usual port, "COM2"

// Below HKEY_LOCAL_MACHINE: the key of the provider with a permanent ID is
// this followed by the ID.
constexpr char16_t kProviderKeyPrefix[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider";

constexpr const char* kUsage = R"USAGE(usage: tksetup --port N [--provider FILE [--provider-config FILE]] [--link-control FILE]
       tksetup --serial PATH [--com N] [options as above]
       tksetup --usb N [options as above]

Prepares the root folder ($TK_ROOT) so that the provider reaches an exchange
on this machine over the LAN link, a serial line or USB:
  --port N               the link configuration: LAN ("TCP") to 127.0.0.1,
                         port N (1 to 65535), keep-alive off
  --serial PATH          the link configuration: the serial port "COMn"
                         (LinkSpeed 9600, ControlLines off), with
                         $TK_ROOT/dev/COMn a symbolic link to the tty PATH
                         (a pseudo-terminal of tksim --serial, /dev/ttyUSB0,
                         ...); PATH must exist
  --com N                the port number n for --serial (1 to 255, default 2)
  --usb N                the link configuration: USB; the link control
                         process opens the first of the devices \\.\VNLUSB0
                         to 9 there is ($TK_ROOT/dev/VNLUSBn, served by the
                         exchange's driver or tksim --usb N); N (0 to 9) is
                         the one expected, named in the output
  --provider FILE        puts the provider plug-in FILE (an existing file; its
                         absolute path is stored) into TAPI's provider list and
                         prints "provider-id N (added)" with its permanent ID;
                         when the list holds FILE already, that entry is kept
                         and "provider-id N (updated)" printed instead
  --provider-config FILE the provider's configuration: FILE holds value lines
                         of a .reg file ("NumLinesTotal"=dword:00000002,
                         "LineAddress0"="20" ..., UTF-8 with or without BOM or
                         UTF-16LE with BOM); they replace everything stored
                         under HKLM\...\Telephony\Provider<ID> of the provider
  --link-control FILE    links the link control program FILE (an executable
                         file) into the system directory ($TK_ROOT/system),
                         where the link library starts it from
  --help                 show this text

Every option and file is checked before anything is written; when a check
fails, nothing is changed. When a step fails after that, the changes this
run made are undone and the message says so.

Running tksetup again for the same provider file updates that provider: the
link configuration and the link control program are written again, the entry
in the provider list stays (same ID) and its configuration is replaced when
--provider-config is given (kept when not). Should the list hold the file
several times (left by older versions of tksetup), the first entry is updated,
which is the one tkphone uses, and a warning names the others.

Only the loopback address is ever configured. Exit status: 0 done, 1 a check
or a step failed, 2 wrong usage.
)USAGE";

// Text a person gave (paths, option values), safe to print.
std::string shown(const std::string& text) { return platform::printableText(text); }

int usage(const std::string& problem) {
  std::fprintf(stderr, "tksetup: %s (try --help)\n", problem.c_str());
  return kExitUsage;
}

int failed(const std::string& what) {
  std::fprintf(stderr, "tksetup: %s\n", what.c_str());
  return kExitFailure;
}

void warn(const std::string& what) { std::fprintf(stderr, "tksetup: warning: %s\n", what.c_str()); }

// What the command line asks for.
struct Options {
  long port = -1;
  long com = -1;
  long usb = -1;
  std::string serial;
  std::string provider, providerConfig, linkControl;
};

// Everything a run writes, worked out and checked before the first write.
struct Plan {
  uint32_t port = 0;          // LAN link to this port, or
  bool usb = false;           // the USB link (port 0), device usbDevice
  uint32_t usbDevice = 0;
  uint32_t com = 0;           // the serial link "COMn" (port 0) through
  std::string serialTarget;   // $TK_ROOT/dev/COMn, a link to this tty
  std::string providerPath;  // absolute; empty: no provider
  uint32_t existingId = 0;   // the entry to update; 0: add one
  std::vector<uint32_t> duplicates;
  std::optional<platform::RegTextDocument> providerValues;  // one section, path not yet set
  std::string linkControlPath;  // absolute; empty: none
  std::string linkControlTarget;
};

std::string fileKindProblem(const fs::file_status& st) {
  if (fs::is_directory(st)) return "it is a folder, not a file";
  if (!fs::is_regular_file(st)) return "it is not a regular file";
  return {};
}

// Checks that path names an existing regular file this process can read
// (and execute, when asked); the problem is named with the option.
bool checkFile(const std::string& option, const std::string& path, bool executable, std::string* error) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) {
    *error = option + " " + shown(path) + ": " + (ec ? ec.message() : "No such file or directory");
    return false;
  }
  if (std::string problem = fileKindProblem(st); !problem.empty()) {
    *error = option + " " + shown(path) + ": " + problem;
    return false;
  }
  if (!std::ifstream(path, std::ios::binary)) {
    *error = option + " " + shown(path) + ": cannot be opened for reading (" + platform::lastStreamErrorText() + ")";
    return false;
  }
  constexpr fs::perms kAnyExec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  if (executable && (st.permissions() & kAnyExec) == fs::perms::none) {
    *error = option + " " + shown(path) + ": it is not executable";
    return false;
  }
  return true;
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  fs::path full = fs::absolute(path, ec);
  return ec ? path : full.lexically_normal().string();
}

std::u16string providerKey(uint32_t id) { return kProviderKeyPrefix + platform::utf8ToWide(std::to_string(id)); }

std::vector<std::u16string> splitKey(std::u16string_view path) {
  std::vector<std::u16string> parts;
  platform::splitRegPath(path, &parts);
  return parts;
}

// A document that deletes the key at path (below HKEY_LOCAL_MACHINE) and then
// writes content, so that applying it replaces the key in one step.
platform::RegTextDocument replacingKey(std::u16string_view path, std::vector<platform::RegTextSection> content) {
  platform::RegTextDocument document;
  platform::RegTextSection removal;
  removal.root = platform::RegRoot::LocalMachine;
  removal.path = splitKey(path);
  removal.remove = true;
  document.sections.push_back(std::move(removal));
  for (platform::RegTextSection& section : content) document.sections.push_back(std::move(section));
  return document;
}

// Whether a provider list entry stands for the plug-in file path (absolute)
// that was given as `given`: the same text, or the same file on disk.
bool sameProviderFile(const std::string& stored, const std::string& path, const std::string& given) {
  if (stored == path || stored == given) return true;
  std::error_code ec;
  return fs::equivalent(stored, path, ec) && !ec;
}

std::string idList(const std::vector<uint32_t>& ids) {
  std::string text;
  for (uint32_t id : ids) text += (text.empty() ? "" : ", ") + std::to_string(id);
  return text;
}

bool parseOptions(const std::vector<std::string>& args, Options* options, bool* help, std::string* problem) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      *help = true;
      return true;
    }
    std::string* target = arg == "--provider"          ? &options->provider
                          : arg == "--provider-config" ? &options->providerConfig
                          : arg == "--link-control"    ? &options->linkControl
                          : arg == "--serial"          ? &options->serial
                                                       : nullptr;
    if (!target && arg != "--port" && arg != "--com" && arg != "--usb") {
      *problem = "unknown option " + shown(arg);
      return false;
    }
    if (i + 1 >= args.size()) {
      *problem = arg + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    if (arg == "--port") {
      if (options->port >= 0) {
        *problem = "--port is given twice";
        return false;
      }
      if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos ||
          std::stol(value) < 1 || std::stol(value) > 65535) {
        *problem = "--port needs a port number from 1 to 65535, not '" + shown(value) + "'";
        return false;
      }
      options->port = std::stol(value);
      continue;
    }
    if (arg == "--usb") {
      if (options->usb >= 0) {
        *problem = "--usb is given twice";
        return false;
      }
      if (value.size() != 1 || value[0] < '0' || value[0] > '9') {
        *problem = "--usb needs a device number from 0 to 9, not '" + shown(value) + "'";
        return false;
      }
      options->usb = value[0] - '0';
      continue;
    }
    if (arg == "--com") {
      if (options->com >= 0) {
        *problem = "--com is given twice";
        return false;
      }
      if (value.empty() || value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos ||
          std::stol(value) < 1 || std::stol(value) > 255) {
        *problem = "--com needs a port number from 1 to 255, not '" + shown(value) + "'";
        return false;
      }
      options->com = std::stol(value);
      continue;
    }
    if (!target->empty()) {
      *problem = arg + " is given twice";
      return false;
    }
    if (value.empty()) {
      *problem = arg + " needs a file name, not an empty one";
      return false;
    }
    *target = value;
  }
  const int links = (options->port >= 0) + !options->serial.empty() + (options->usb >= 0);
  if (links == 0) {
    *problem = "--port, --serial or --usb is missing";
    return false;
  }
  if (links > 1) {
    *problem = "--port, --serial and --usb exclude each other: the link is LAN, serial or USB";
    return false;
  }
  if (options->com >= 0 && options->serial.empty()) {
    *problem = "--com needs --serial";
    return false;
  }
  if (!options->providerConfig.empty() && options->provider.empty()) {
    *problem = "--provider-config needs --provider";
    return false;
  }
  return true;
}

// Every check, with no write: false with *error saying what is wrong.
bool makePlan(const Options& options, Plan* plan, std::string* error) {
  if (!options.serial.empty()) {
    std::error_code ec;
    const fs::file_status st = fs::status(options.serial, ec);
    if (!fs::exists(st)) {
      *error = "--serial " + shown(options.serial) + ": no such device";
      return false;
    }
    if (!fs::is_character_file(st)) {
      *error = "--serial " + shown(options.serial) + ": not a terminal device (a tty is a character device)";
      return false;
    }
    plan->com = options.com >= 0 ? static_cast<uint32_t>(options.com) : kDefaultComPort;
    plan->serialTarget = absolutePath(options.serial);
  } else if (options.usb >= 0) {
    plan->usb = true;
    plan->usbDevice = static_cast<uint32_t>(options.usb);
  } else {
    plan->port = static_cast<uint32_t>(options.port);
  }

  if (!options.provider.empty()) {
    if (!checkFile("--provider", options.provider, false, error)) return false;
    plan->providerPath = absolutePath(options.provider);
  }

  if (!options.providerConfig.empty()) {
    std::string bytes, readError;
    if (!platform::readWholeFileText(options.providerConfig, &bytes, &readError)) {
      *error = "--provider-config: " + shown(readError);
      return false;
    }
    platform::RegTextParseResult parsed = platform::parseRegValueLines(bytes, options.providerConfig);
    if (!parsed.error.empty()) {
      *error = shown(parsed.error);
      return false;
    }
    plan->providerValues = std::move(parsed.document);
  }

  if (!options.linkControl.empty()) {
    if (!checkFile("--link-control", options.linkControl, true, error)) return false;
    plan->linkControlPath = absolutePath(options.linkControl);
    const std::string systemDir = platform::systemDir();
    plan->linkControlTarget = systemDir + "/vnl2c64";
    std::error_code ec;
    const fs::file_status dirStatus = fs::status(systemDir, ec);
    if (fs::exists(dirStatus) && !fs::is_directory(dirStatus)) {
      *error = "the system directory " + shown(systemDir) + " is not a folder";
      return false;
    }
    if (fs::is_directory(fs::symlink_status(plan->linkControlTarget, ec))) {
      *error = "cannot replace " + shown(plan->linkControlTarget) + ": it is a folder";
      return false;
    }
  }

  if (!plan->providerPath.empty()) {
    std::string listProblem;
    const std::vector<tapihost::ProviderListEntry> list = tapihost::ReadProviderList(&listProblem);
    if (!listProblem.empty()) warn("TAPI's provider list: " + shown(listProblem));
    for (const tapihost::ProviderListEntry& entry : list) {
      if (!sameProviderFile(entry.filename, plan->providerPath, options.provider)) continue;
      if (plan->existingId == 0) {
        plan->existingId = entry.permanentProviderId;
      } else {
        plan->duplicates.push_back(entry.permanentProviderId);
      }
    }
  }
  return true;
}

// A registry key's content before the run, to put back when a later step
// fails. An absent key is put back by deleting it.
class KeySnapshot {
 public:
  // False when the key exists but cannot be read (*error says why).
  bool take(std::u16string path, std::string* error) {
    path_ = std::move(path);
    std::string text;
    long rc = platform::regExportKey(platform::kHkeyLocalMachine, path_, &text);
    if (rc == platform::kErrorFileNotFound) return taken_ = true;
    platform::RegTextParseResult parsed;
    if (rc == platform::kErrorSuccess) parsed = platform::parseRegText(text, "the saved key");
    if (rc != platform::kErrorSuccess || !parsed.error.empty()) {
      std::string detail = platform::registryLastError();
      if (detail.empty()) detail = rc != platform::kErrorSuccess ? "error " + std::to_string(rc) : parsed.error;
      *error = "cannot read HKEY_LOCAL_MACHINE\\" + platform::wideToUtf8(path_) + ": " + shown(detail);
      return false;
    }
    content_ = std::move(parsed.document);
    return taken_ = true;
  }
  // Deletes the key and writes back what it held, in one step.
  bool restore() const {
    if (!taken_) return false;
    return platform::regImportDocument(replacingKey(path_, content_ ? content_->sections
                                                                    : std::vector<platform::RegTextSection>{})) ==
           platform::kErrorSuccess;
  }

 private:
  std::u16string path_;
  bool taken_ = false;
  std::optional<platform::RegTextDocument> content_;
};

std::string comName(uint32_t com) { return "COM" + std::to_string(com); }

// Where the platform looks for the port COMn first.
std::string serialPortPlace(uint32_t com) { return platform::rootDir() + "/dev/" + comName(com); }

// LAN to 127.0.0.1:port, USB, or (port 0) the serial port COMn.
bool writeLinkConfiguration(uint32_t port, bool usb, uint32_t com) {
  LinkConfig link;
  DefaultLinkConfiguration(&link);
  std::memset(link.Link, 0, sizeof link.Link);
  if (usb) {
    std::memcpy(link.Link, "USB", 3);
    return SaveLinkConfiguration(link);
  }
  if (port == 0) {
    const std::string name = comName(com);
    std::memcpy(link.Link, name.data(), name.size());
    std::memset(link.LinkSpeed, 0, sizeof link.LinkSpeed);
    std::strcpy(link.LinkSpeed, "9600");
    link.ControlLines = 0;
    return SaveLinkConfiguration(link);
  }
  std::memcpy(link.Link, kLanLinkName, sizeof kLanLinkName);
  std::memset(link.TapiSvrIpAddr, 0, sizeof link.TapiSvrIpAddr);
  std::strcpy(link.TapiSvrIpAddr, "127.0.0.1");
  link.TapiSvrIpPort = port;
  link.Keepalive = 0;
  return SaveLinkConfiguration(link);
}

// A symbolic link made under a temporary name first (nothing anybody else
// sees) and then renamed over its place in one step; the temporary one is
// removed when the run fails before that.
class StagedLink {
 public:
  ~StagedLink() {
    if (!temp_.empty()) {
      std::error_code ec;
      fs::remove(temp_, ec);
    }
  }
  // Creates the folder of place and the link to target under a temporary name.
  bool stage(const std::string& target, const std::string& place, std::string* problem) {
    const std::string folder = fs::path(place).parent_path().string();
    if (!platform::ensureDirectory(folder)) {
      *problem = "cannot create the folder " + shown(folder);
      return false;
    }
    target_ = target;
    place_ = place;
    temp_ = place + ".tksetup-" + std::to_string(platform::currentProcessId());
    std::error_code ec;
    fs::remove(temp_, ec);
    fs::create_symlink(target, temp_, ec);
    if (ec) {
      *problem = "cannot create a link in " + shown(folder) + ": " + ec.message();
      temp_.clear();
      return false;
    }
    return true;
  }
  // Puts a staged link in its place (nothing staged: nothing to do).
  bool commit(std::string* problem) {
    if (temp_.empty()) return true;
    std::error_code ec;
    fs::rename(temp_, place_, ec);
    if (ec) {
      *problem = "cannot link " + shown(target_) + " as " + shown(place_) + ": " + ec.message();
      return false;
    }
    temp_.clear();
    return true;
  }

 private:
  std::string target_, place_, temp_;
};

// Carries out a checked plan. Steps that fail leave the store as it was:
// what the run changed before is put back, and the message says what could
// not be.
class Setup {
 public:
  explicit Setup(const Plan& plan) : plan_(plan) {}

  // Writes everything; on failure *error says which step failed and what
  // was undone.
  bool run(std::string* error) {
    std::string problem;
    if (!prepare(&problem) || !apply(&problem)) {
      *error = problem + undo();
      return false;
    }
    return true;
  }

  uint32_t providerId() const { return id_; }

 private:
  // Snapshots, the link control program's link and the serial port's
  // link under temporary names; nothing that anybody else sees.
  bool prepare(std::string* problem) {
    if (!linkSnapshot_.take(platform::utf8ToWide(kLinkConfigKey), problem)) return false;
    if (plan_.existingId != 0 && plan_.providerValues &&
        !configSnapshot_.take(providerKey(plan_.existingId), problem)) {
      return false;
    }
    if (!plan_.linkControlPath.empty() &&
        !linkControl_.stage(plan_.linkControlPath, plan_.linkControlTarget, problem)) {
      return false;
    }
    if (!plan_.serialTarget.empty() && !serialPort_.stage(plan_.serialTarget, serialPortPlace(plan_.com), problem)) {
      return false;
    }
    return true;
  }

  bool apply(std::string* problem) {
    if (!plan_.providerPath.empty()) {
      if (plan_.existingId != 0) {
        id_ = plan_.existingId;
      } else {
        std::string listError;
        id_ = tapihost::AddProvider(plan_.providerPath, &listError);
        if (id_ == 0) {
          *problem = "cannot add the provider " + shown(plan_.providerPath) + " to TAPI's provider list: " + listError;
          return false;
        }
        added_ = true;
        if (plan_.providerValues && !configSnapshot_.take(providerKey(id_), problem)) return false;
      }
      if (plan_.providerValues && !writeProviderValues(problem)) return false;
    }
    linkWritten_ = true;
    if (!writeLinkConfiguration(plan_.port, plan_.usb, plan_.com)) {
      *problem = "cannot write the link configuration (HKEY_LOCAL_MACHINE\\" + std::string(kLinkConfigKey) + ")" +
                 registryDetail();
      return false;
    }
    return linkControl_.commit(problem) && serialPort_.commit(problem);
  }

  // Replaces the provider's key by the values of the configuration, in one step.
  bool writeProviderValues(std::string* problem) {
    // The parser gives the value lines as one section without a path.
    const auto& parsed = plan_.providerValues->sections;
    platform::RegTextSection values = parsed.empty() ? platform::RegTextSection{} : parsed.front();
    values.root = platform::RegRoot::LocalMachine;
    values.path = splitKey(providerKey(id_));
    configWritten_ = true;
    if (platform::regImportDocument(replacingKey(providerKey(id_), {std::move(values)})) != platform::kErrorSuccess) {
      *problem = "cannot store the provider configuration under Provider" + std::to_string(id_) + registryDetail();
      return false;
    }
    return true;
  }

  static std::string registryDetail() {
    const std::string detail = platform::registryLastError();
    return detail.empty() ? "" : ": " + shown(detail);
  }

  // Puts back what the run changed; the text to add to the failure message.
  std::string undo() {
    std::vector<std::string> undone, left;
    if (linkWritten_) {
      (linkSnapshot_.restore() ? undone : left).push_back("the link configuration");
    }
    if (configWritten_) {
      (configSnapshot_.restore() ? undone : left).push_back("the configuration of Provider" + std::to_string(id_));
    }
    if (added_) {
      std::string removeError;
      (tapihost::RemoveProvider(id_, &removeError) ? undone : left)
          .push_back("the provider list entry " + std::to_string(id_));
    }
    auto join = [](const std::vector<std::string>& parts) {
      std::string text;
      for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
      return text;
    };
    if (undone.empty() && left.empty()) return "; nothing was changed";
    std::string text = undone.empty() ? "" : "; put back as it was: " + join(undone);
    if (!left.empty()) text += "; could NOT be put back: " + join(left);
    return text;
  }

  const Plan& plan_;
  KeySnapshot linkSnapshot_, configSnapshot_;
  StagedLink linkControl_, serialPort_;
  uint32_t id_ = 0;
  bool added_ = false;
  bool configWritten_ = false;
  bool linkWritten_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  std::string problem;
  if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &help, &problem)) {
    return usage(problem);
  }
  if (help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }

  Plan plan;
  if (!makePlan(options, &plan, &problem)) return failed(problem + " (nothing was changed)");
  Setup setup(plan);
  if (!setup.run(&problem)) return failed(problem);

  if (plan.usb) {
    std::printf("link USB \\\\.\\VNLUSB%u %s/dev/VNLUSB%u\n", plan.usbDevice, shown(platform::rootDir()).c_str(),
                plan.usbDevice);
  } else if (plan.port != 0) {
    std::printf("link TCP 127.0.0.1:%u\n", plan.port);
  } else {
    std::printf("link %s %s\n", comName(plan.com).c_str(), shown(plan.serialTarget).c_str());
  }
  if (!plan.linkControlPath.empty()) std::printf("link-control %s\n", shown(plan.linkControlTarget).c_str());
  if (!plan.providerPath.empty()) {
    std::printf("provider-id %u (%s)\n", setup.providerId(), plan.existingId != 0 ? "updated" : "added");
    if (plan.providerValues) std::printf("provider-config Provider%u\n", setup.providerId());
  }
  if (!plan.duplicates.empty()) {
    warn("TAPI's provider list also holds " + shown(plan.providerPath) + " as provider ID " + idList(plan.duplicates) +
         "; provider ID " + std::to_string(plan.existingId) +
         " was updated, which is the one tkphone uses; the others are left as they are");
  }
  return kExitOk;
}
