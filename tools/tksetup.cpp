// tksetup: prepares a root folder (TK_ROOT) for the provider to reach an
// exchange on this machine: the link configuration (LAN to 127.0.0.1 and a
// port), the link control program in the system directory, the provider in
// TAPI's provider list and the provider's configuration. For demos and
// trials with the simulated exchange.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/common/link_config.h"
#include "platform/registry.h"
#include "platform/root.h"
#include "tapi/host/provider_list.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kProviderKeyPrefix[] =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider";

constexpr const char* kUsage = R"(usage: tksetup --port N [--provider FILE [--provider-config FILE]] [--link-control FILE]

Prepares the root folder ($TK_ROOT) so that the provider reaches an exchange
on this machine over the LAN link:
  --port N               the link configuration: LAN ("TCP") to 127.0.0.1,
                         port N, keep-alive off
  --provider FILE        adds the provider plug-in FILE to TAPI's provider list
                         and prints "provider-id N" with its permanent ID
  --provider-config FILE writes the provider's configuration: FILE holds value
                         lines of a .reg file ("NumLinesTotal"=dword:00000002,
                         "LineAddress0"="20" ...), stored under
                         HKLM\...\Telephony\Provider<ID> of the new provider
  --link-control FILE    links the link control program FILE into the system
                         directory ($TK_ROOT/system), where the link library
                         starts it from
  --help                 show this text

Only the loopback address is ever configured. Exit status: 0 done, 1 a step
failed, 2 wrong usage.
)";

int usage(const std::string& problem) {
  std::fprintf(stderr, "tksetup: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
}

int failed(const std::string& what) {
  std::fprintf(stderr, "tksetup: %s\n", what.c_str());
  return kExitFailure;
}

bool readFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool writeLinkConfiguration(uint32_t port) {
  LinkConfig link;
  DefaultLinkConfiguration(&link);
  std::memset(link.Link, 0, sizeof link.Link);
  std::memcpy(link.Link, kLanLinkName, sizeof kLanLinkName);
  std::memset(link.TapiSvrIpAddr, 0, sizeof link.TapiSvrIpAddr);
  std::strcpy(link.TapiSvrIpAddr, "127.0.0.1");
  link.TapiSvrIpPort = port;
  link.Keepalive = 0;
  return SaveLinkConfiguration(link);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  long port = -1;
  std::string provider, providerConfig, linkControl;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (i + 1 >= args.size()) return usage(arg + " needs a value");
    const std::string& value = args[++i];
    if (arg == "--port") {
      if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos ||
          std::stol(value) < 1 || std::stol(value) > 65535) {
        return usage("--port needs a port number from 1 to 65535");
      }
      port = std::stol(value);
    } else if (arg == "--provider") {
      provider = value;
    } else if (arg == "--provider-config") {
      providerConfig = value;
    } else if (arg == "--link-control") {
      linkControl = value;
    } else {
      return usage("unknown option " + arg);
    }
  }
  if (port < 0) return usage("--port is missing");
  if (!providerConfig.empty() && provider.empty()) return usage("--provider-config needs --provider");

  if (!writeLinkConfiguration(static_cast<uint32_t>(port))) return failed("cannot write the link configuration");
  std::printf("link TCP 127.0.0.1:%ld\n", port);

  if (!linkControl.empty()) {
    const std::string target = platform::systemDir() + "/vnl2c64";
    std::error_code ec;
    platform::ensureDirectory(platform::systemDir());
    std::filesystem::remove(target, ec);
    std::filesystem::create_symlink(std::filesystem::absolute(linkControl), target, ec);
    if (ec) return failed("cannot link " + linkControl + " as " + target + ": " + ec.message());
    std::printf("link-control %s\n", target.c_str());
  }

  if (!provider.empty()) {
    std::string error;
    const uint32_t id = tapihost::AddProvider(provider, &error);
    if (id == 0) return failed("cannot add the provider " + provider + ": " + error);
    std::printf("provider-id %u\n", id);
    if (!providerConfig.empty()) {
      std::string values;
      if (!readFile(providerConfig, &values)) return failed("cannot read " + providerConfig);
      const std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n[" + std::string(kProviderKeyPrefix) +
                              std::to_string(id) + "]\r\n" + values + "\r\n";
      if (long rc = platform::regImport(reg, providerConfig); rc != 0) {
        return failed("cannot store the provider configuration of " + providerConfig + " (error " +
                      std::to_string(rc) + ")");
      }
      std::printf("provider-config Provider%u\n", id);
    }
  }
  return kExitOk;
}
