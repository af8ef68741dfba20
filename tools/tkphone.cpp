// tkphone: telephony from the shell. Loads a TAPI service provider into the
// telephony host, runs commands from a script or the command line against
// its lines and calls, and shows every event and completion as it arrives.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/stop_request.h"
#include "tapi/host/telephony_host.h"
#include "tools/tkphone_command.h"
#include "tools/tkphone_host_backend.h"
#include "tools/tkphone_names.h"
#include "tools/tkphone_options.h"
#include "tools/tkphone_session.h"

namespace {

using namespace tkphone;

void printLine(std::FILE* to, const std::string& line) {
  std::fputs(line.c_str(), to);
  std::fputc('\n', to);
  std::fflush(to);
}

bool readCommands(const PhoneOptions& options, std::vector<Command>* commands, std::string* error) {
  if (!options.scriptFile.empty()) {
    std::ifstream in(options.scriptFile, std::ios::binary);
    if (!in) {
      *error = "cannot read the script " + options.scriptFile;
      return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!ParseScript(text, options.scriptFile, commands, error)) return false;
  }
  return ParseArguments(options.commands, commands, error);
}

}  // namespace

int main(int argc, char** argv) {
  PhoneOptions options;
  std::string error;
  if (!ParsePhoneOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    std::fprintf(stderr, "tkphone: %s (try --help)\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(PhoneHelp().c_str(), stdout);
    return kExitOk;
  }
  std::vector<Command> commands;
  if (!readCommands(options, &commands, &error)) {
    std::fprintf(stderr, "tkphone: %s\n", error.c_str());
    return kExitUsage;
  }
  platform::watchStopRequests();

  tapihost::TelephonyHost host;
  const bool loaded = options.providerFile.empty() ? host.LoadFirstFromRegistry(&error)
                                                   : host.Load(options.providerFile, options.providerId, &error);
  if (!loaded) {
    std::fprintf(stderr, "tkphone: %s\n", error.c_str());
    return kExitNoProvider;
  }
  if (LONG rc = host.Start(); rc != 0) {
    std::fprintf(stderr, "tkphone: the provider did not start: %s\n", ResultText(rc).c_str());
    return kExitNoProvider;
  }

  int exitCode;
  {
    HostBackend backend(host);
    Session session(
        backend, platform::systemClock(), options.json, [](const std::string& line) { printLine(stdout, line); },
        [](const std::string& line) { printLine(stderr, line); }, [] { return platform::stopRequest() != 0; });
    exitCode = session.Run(commands);
  }
  // Closes the lines that are still open, then shuts the provider down.
  if (LONG rc = host.Stop(); rc != 0) {
    std::fprintf(stderr, "tkphone: the provider did not stop cleanly: %s\n", ResultText(rc).c_str());
    if (exitCode == kExitOk) exitCode = kExitFailed;
  }
  for (const std::string& fault : host.violations()) {
    std::fprintf(stderr, "tkphone: provider fault: %s\n", fault.c_str());
  }
  if (int sig = platform::stopRequest(); sig != 0) return 128 + sig;
  return exitCode;
}
