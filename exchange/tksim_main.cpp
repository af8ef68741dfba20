// tksim: the simulated exchange as a program. See TksimHelp for its options,
// commands and events.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "exchange/command_interpreter.h"
#include "exchange/control_port.h"
#include "exchange/echo_engine.h"
#include "exchange/event_printer.h"
#include "exchange/exchange_config.h"
#include "exchange/lan_exchange.h"
#include "exchange/script_engine.h"
#include "exchange/tksim_options.h"
#include "exchange/vnl_engine.h"
#include "platform/thread.h"
#include "platform/wait.h"

namespace {

using namespace exchange;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitScriptFailed = 3;
constexpr uint32_t kCommandThreadWaitMs = 2000;

std::string EnginesHelp() {
  EventPrinter none(stderr, true);
  return ScriptEngine(none).CommandHelp() + VnlEngine(DefaultExchangeConfig()).CommandHelp();
}

// Runs the scenario file; false (after "script-failed") when a command failed.
bool RunScript(const std::string& file, CommandInterpreter& interpreter, EventSink& events, bool& quit) {
  std::ifstream in(file);
  if (!in) {
    events.Event("script-failed " + file + ":0 (cannot open)");
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    auto outcome = interpreter.Execute(line);
    if (!outcome) continue;
    events.Event(outcome->line);
    if (!outcome->ok) {
      events.Event("script-failed " + file + ":" + std::to_string(number));
      return false;
    }
    if (outcome->quit) {
      quit = true;
      return true;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TksimOptions options;
  std::string error;
  switch (ParseTksimOptions(args, options, &error)) {
    case ParseOutcome::Help:
      std::fputs(TksimHelp(EnginesHelp()).c_str(), stdout);
      return kExitOk;
    case ParseOutcome::Error:
      std::fprintf(stderr, "tksim: %s (try --help)\n", error.c_str());
      return kExitUsage;
    case ParseOutcome::Run:
      break;
  }

  EventPrinter printer(stdout, options.quiet);
  std::unique_ptr<ProtocolEngine> engine;
  if (options.engine == "script") {
    auto script = std::make_unique<ScriptEngine>(printer);
    for (const std::string& rule : options.rules) {
      if (!script->AddRule(rule, &error)) {
        std::fprintf(stderr, "tksim: --rule '%s': %s\n", rule.c_str(), error.c_str());
        return kExitUsage;
      }
    }
    engine = std::move(script);
  } else if (options.engine == "vnl") {
    ExchangeConfig config = DefaultExchangeConfig();
    if (!options.exchangeConfig.empty() && !LoadExchangeConfig(options.exchangeConfig, config, &error)) {
      std::fprintf(stderr, "tksim: --exchange-config %s: %s\n", options.exchangeConfig.c_str(), error.c_str());
      return kExitUsage;
    }
    engine = std::make_unique<VnlEngine>(std::move(config), &printer);
  } else {
    engine = std::make_unique<EchoEngine>();
  }

  LanExchange exchange(*engine, printer);
  exchange.SetKeepalivePeriod(options.keepaliveMs);
  exchange.SetDropOnMissedKeepalive(options.dropOnMissedKeepalive);
  if (!exchange.Listen(options.address, options.port, options.allowNonLoopback, &error)) {
    std::fprintf(stderr, "tksim: %s\n", error.c_str());
    return kExitFailure;
  }

  platform::Event quit(platform::Event::Reset::Manual);
  std::atomic<int> exitCode{kExitOk};
  CommandInterpreter interpreter(exchange, [&quit] { quit.set(); });

  ControlPort control;
  if (options.controlPort) {
    if (!control.Listen(options.address, *options.controlPort, &error)) {
      std::fprintf(stderr, "tksim: control port: %s\n", error.c_str());
      return kExitFailure;
    }
    printer.Event("control " + options.address + ":" + std::to_string(control.Port()));
  }

  if (!exchange.Start()) {
    std::fprintf(stderr, "tksim: cannot start the network thread\n");
    return kExitFailure;
  }
  if (options.controlPort) {
    control.Start([&interpreter](std::string_view line) -> std::optional<std::string> {
      auto outcome = interpreter.Execute(line);
      if (!outcome) return std::nullopt;
      return outcome->line;
    });
  }

  platform::Thread commands;
  if (!options.scriptFile.empty() || options.readStdin) {
    commands.start(
        [&] {
          bool quitting = false;
          if (!options.scriptFile.empty() && !RunScript(options.scriptFile, interpreter, printer, quitting)) {
            exitCode = kExitScriptFailed;
            quit.set();
            return;
          }
          if (quitting || !options.readStdin) return;
          std::string line;
          while (!quit.isSet() && std::getline(std::cin, line)) {
            auto outcome = interpreter.Execute(line);
            if (!outcome) continue;
            printer.Event(outcome->line);
            if (outcome->quit) return;
          }
          quit.set();  // end of standard input
        },
        "tksim-commands");
  }

  quit.wait();
  control.Stop();
  exchange.Stop();
  if (!commands.join(kCommandThreadWaitMs)) {
    // The command thread still blocks on standard input or in a wait
    // command; the process ends without waiting for it.
    std::fflush(stdout);
    std::_Exit(exitCode);
  }
  return exitCode;
}
