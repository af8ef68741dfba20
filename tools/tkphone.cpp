// tkphone: telephony from the shell. Loads a TAPI service provider into the
// telephony host, runs commands from a script or the command line against
// its lines and calls, and shows every event and completion as it arrives.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_read.h"
#include "platform/printable_text.h"
#include "platform/root.h"
#include "platform/stop_request.h"
#include "tapi/host/provider_list.h"
#include "tapi/host/telephony_host.h"
#include "tools/tkphone_command.h"
#include "tools/tkphone_format.h"
#include "tools/tkphone_host_backend.h"
#include "tools/tkphone_names.h"
#include "tools/tkphone_options.h"
#include "tools/tkphone_service_backend.h"
#include "tools/tkphone_session.h"

namespace {

using namespace tkphone;

void printLine(std::FILE* to, const std::string& line) {
  std::fputs(line.c_str(), to);
  std::fputc('\n', to);
  std::fflush(to);
}

// A message on standard error; the text may hold what a person or the
// provider gave, so it is made safe to print.
void complain(const std::string& text) { printLine(stderr, "tkphone: " + platform::printableText(text)); }

bool readCommands(const PhoneOptions& options, std::vector<Command>* commands, std::string* error) {
  if (!options.scriptFile.empty()) {
    std::string text, readError;
    if (!platform::readWholeFileText(options.scriptFile, &text, &readError)) {
      *error = "the script: " + readError;
      return false;
    }
    if (!ParseScript(text, options.scriptFile, commands, error)) return false;
  }
  return ParseArguments(options.commands, commands, error);
}

int runSession(PhoneBackend& backend, const PhoneOptions& options, const std::vector<Command>& commands) {
  Session session(
      backend, platform::systemClock(), options.json, [](const std::string& line) { printLine(stdout, line); },
      [](const std::string& line) { printLine(stderr, line); }, [] { return platform::stopRequest() != 0; });
  return session.Run(commands);
}

int exitAfterStop(int exitCode) {
  if (int sig = platform::stopRequest(); sig != 0) return 128 + sig;
  return exitCode;
}

void reportNoService(LONG rc) {
  if (rc == LINEERR_NODRIVER) {
    complain("no telephony service is running for " + platform::rootDir() + " (start it with tapisrv)");
  } else {
    complain("the telephony service refused tkphone: " + ResultText(rc));
  }
}

int runOnService(const PhoneOptions& options, const std::vector<Command>& commands) {
  ServiceBackend backend(options.monitor);
  if (LONG rc = backend.Initialize(); rc != 0) {
    reportNoService(rc);
    return kExitNoProvider;
  }
  return exitAfterStop(runSession(backend, options, commands));
}

// TAPI's provider list: through the service, or as the registry store holds it.
int listProviders(const PhoneOptions& options) {
  std::vector<std::pair<uint32_t, std::string>> providers;
  if (options.service) {
    LONG rc = ServiceBackend::ProviderList(&providers);
    if (rc != 0) {
      reportNoService(rc);
      return kExitNoProvider;
    }
  } else {
    for (const tapihost::ProviderListEntry& entry : tapihost::ReadProviderList(nullptr)) {
      providers.emplace_back(entry.permanentProviderId, entry.filename);
    }
  }
  for (const auto& [id, file] : providers) {
    printLine(stdout, options.json ? "{\"provider\":" + std::to_string(id) + ",\"file\":" + JsonString(file) + "}"
                                   : std::to_string(id) + " " + platform::printableText(file));
  }
  return kExitOk;
}

int runInProcess(const PhoneOptions& options, const std::vector<Command>& commands) {
  std::string error;
  tapihost::TelephonyHost host;
  const bool loaded = options.providerFile.empty() ? host.LoadFirstFromRegistry(&error)
                                                   : host.Load(options.providerFile, options.providerId, &error);
  if (!loaded) {
    // On a fresh root folder the provider list is empty: say how to fill it.
    if (options.providerFile.empty() && tapihost::ReadProviderList(nullptr).empty()) {
      error += "; tksetup --provider FILE (see tksetup --help) puts one into TAPI's provider list";
    }
    complain(error);
    return kExitNoProvider;
  }
  if (LONG rc = host.Start(); rc != 0) {
    complain("the provider did not start: " + ResultText(rc));
    return kExitNoProvider;
  }

  int exitCode;
  // The backend outlives the provider's stop: the provider may write into
  // the buffer of a park still outstanding until then.
  HostBackend backend(host);
  exitCode = runSession(backend, options, commands);
  // Closes the lines that are still open, then shuts the provider down.
  if (LONG rc = host.Stop(); rc != 0) {
    complain("the provider did not stop cleanly: " + ResultText(rc));
    if (exitCode == kExitOk) exitCode = kExitFailed;
  }
  for (const std::string& fault : host.violations()) {
    complain("provider fault: " + fault);
  }
  return exitAfterStop(exitCode);
}

}  // namespace

int main(int argc, char** argv) {
  PhoneOptions options;
  std::string error;
  if (!ParsePhoneOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    complain(error + " (try --help)");
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(PhoneHelp().c_str(), stdout);
    return kExitOk;
  }
  if (options.commands == std::vector<std::string>{"providers"} && options.scriptFile.empty()) {
    return listProviders(options);
  }
  std::vector<Command> commands;
  if (!readCommands(options, &commands, &error)) {
    complain(error);
    return kExitUsage;
  }
  platform::watchStopRequests();
  return options.service ? runOnService(options, commands) : runInProcess(options, commands);
}
