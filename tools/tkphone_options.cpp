#include "tools/tkphone_options.h"

#include "tools/tkphone_command.h"
#include "tools/tkphone_session.h"

namespace tkphone {

bool ParsePhoneOptions(const std::vector<std::string>& args, PhoneOptions* options, std::string* error) {
  bool providerIdGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](const char* what) -> const std::string* {
      if (i + 1 >= args.size()) {
        *error = arg + " needs " + what;
        return nullptr;
      }
      return &args[++i];
    };
    // A file option: given once, not empty (an empty one would silently
    // mean none).
    auto file = [&](std::string* target) {
      const std::string* name = value("a file");
      if (!name) return false;
      if (!target->empty()) {
        *error = arg + " is given twice";
        return false;
      }
      if (name->empty()) {
        *error = arg + " needs a file name, not an empty one";
        return false;
      }
      *target = *name;
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--json") {
      options->json = true;
    } else if (arg == "--provider") {
      if (!file(&options->providerFile)) return false;
    } else if (arg == "--provider-id") {
      const std::string* text = value("a number");
      if (!text) return false;
      // Permanent provider IDs are handed out from 1 on; 0 names no provider.
      if (text->empty() || text->size() > 9 || text->find_first_not_of("0123456789") != std::string::npos ||
          std::stoul(*text) == 0) {
        *error = "--provider-id needs a number from 1 to 999999999, not '" + *text + "'";
        return false;
      }
      options->providerId = static_cast<uint32_t>(std::stoul(*text));
      providerIdGiven = true;
    } else if (arg == "--service") {
      options->service = true;
    } else if (arg == "--monitor") {
      options->monitor = true;
    } else if (arg == "--script") {
      if (!file(&options->scriptFile)) return false;
    } else if (arg == "--") {
      options->commands.insert(options->commands.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      *error = "unknown option " + arg;
      return false;
    } else {
      options->commands.push_back(arg);
    }
  }
  if (options->help) return true;
  if (providerIdGiven && options->providerFile.empty()) {
    *error = "--provider-id needs --provider";
    return false;
  }
  if (options->service && !options->providerFile.empty()) {
    *error = "--provider and --service exclude each other: the service runs the providers of its list";
    return false;
  }
  if (options->monitor && !options->service) {
    *error = "--monitor needs --service";
    return false;
  }
  return true;
}

std::string PhoneHelp() {
  return std::string(R"(usage: tkphone [--json] [--provider FILE [--provider-id N] | --service [--monitor]]
               [--script FILE] [COMMAND...]
       tkphone [--service] providers

Telephony from the shell: loads a TAPI service provider into the telephony
host, runs commands against its lines and calls, and shows every event and
completion as it arrives, one line each. With --service it leaves the
provider to the telephony service (tapisrv) and works through the TAPI32
library instead, so that several programs share the lines at once.

Options:
  --provider FILE     the provider plug-in to load (a path, or a module name
                      such as KVARSP64.TSP); without it, the first provider of
                      TAPI's provider list in the registry store
                      (HKLM "Software\Microsoft\Windows\CurrentVersion\Telephony\Providers")
  --provider-id N     the permanent provider ID to run it under (default 1;
                      only with --provider)
  --service           use the telephony service running for $TK_ROOT (start
                      it with tapisrv) instead of loading the provider here;
                      line devices are numbered across the service's providers
  --monitor           open lines with monitor privilege only (with --service):
                      see every call on them, own none
  --script FILE       read commands from FILE, one a line ('#' starts a comment);
                      UTF-8 text, with or without a byte order mark, LF or
                      CRLF line ends
  --json              one JSON object a line instead of text: events with the
                      members "time_ms", "event", "line", "call" (null when
                      none), symbolic names ("state", "mode", "media", "result"
                      ...) and the raw "param1", "param2", "param3"; results of
                      commands with "command", "where", "result"
  --help              show this text

COMMAND: each argument is one whole command (quote it in the shell:
'call 0 22'); they run after the script, in order. Words of a command may be
given in double quotes: call 0 "0 (123) 456-78".

)") + CommandHelp() + R"(
Events are shown as "[SECONDS] line L call C NAME DETAILS" (line and call
when known): LINE_CALLSTATE with the state, its mode and media mode (a
CONFERENCED call names its conference call: "conference call 3", in JSON
"conference_call"); ASYNC_COMPLETION with the request, the command that made
it and its result (a park's with the park address it got: "park address
\"1\"", in JSON "park_address").
In text output, control characters (in names and numbers from the provider,
or in commands) are shown as escapes such as \x1b or \u009b, and bytes that
are not UTF-8 as \xff or U+FFFD; --json output is always valid JSON in UTF-8.

After the last command (or quit) tkphone waits up to )" +
         std::to_string(Session::kCompletionWaitMs) + R"( ms (the
default wait time-out) for the completions of requests still outstanding
(and for the dial tone a `setuptransfer CALL NUMBER` still waits for),
showing events as they arrive: a completion that fails or does not come
fails the run like a failing command; for a `try` command it is only shown.

`tkphone providers` lists TAPI's provider list, one "ID FILE" line each
(with --service as the service reports it through lineGetProviderList).

Every line device tkphone opened is closed and the provider stopped on the
way out (with --service: the lines closed and the application shut down), also after a failure and on SIGINT or SIGTERM (a second signal
ends tkphone at once).

Exit status: 0 every command succeeded; 1 a command failed (an error result,
at once or in its completion, a completion that did not come, a wait that
timed out, an unknown call or line), with a message naming it; 2 wrong usage
or a script that cannot be read or does not parse; 3 the provider could not
be loaded or started (with --service: no telephony service is running);
128 + the signal's number when interrupted (130 for
SIGINT, 143 for SIGTERM).

The registry store and everything else lives under $TK_ROOT (see tkreg --help).
)";
}

}  // namespace tkphone
