// tksim: the simulated exchange as a program. See TksimHelp for its options,
// commands and events.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "exchange/command_interpreter.h"
#include "exchange/control_port.h"
#include "exchange/discovery_responder.h"
#include "exchange/echo_engine.h"
#include "exchange/event_printer.h"
#include "exchange/exchange_config.h"
#include "exchange/lan_exchange.h"
#include "exchange/script_engine.h"
#include "exchange/serial_exchange.h"
#include "exchange/tksim_options.h"
#include "exchange/vnl_engine.h"
#include "platform/codepage.h"
#include "platform/file_read.h"
#include "platform/printable_text.h"
#include "platform/stop_request.h"
#include "platform/thread.h"
#include "platform/wait.h"

namespace {

using namespace exchange;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitScriptFailed = 3;
constexpr uint32_t kCommandThreadWaitMs = 2000;
constexpr uint32_t kStopPollMs = 50;
constexpr int kExitSignalBase = 128;

std::string EnginesHelp() {
  EventPrinter none(stderr, true);
  return ScriptEngine(none).CommandHelp() + VnlEngine(DefaultExchangeConfig()).CommandHelp();
}

// An error that ends tksim, on standard error; text from outside escaped.
void PrintError(const std::string& text) {
  std::fprintf(stderr, "tksim: %s\n", platform::printableText(text).c_str());
}

// The scenario file, read whole before anything starts, so that a file that
// cannot be read or is not text is found before a client could connect.
bool LoadScript(const std::string& file, std::vector<std::string>& lines, std::string* error) {
  std::string text;
  if (!platform::readWholeFileText(file, &text, error)) {
    *error = "--script: " + *error;
    return false;
  }
  std::string_view rest = platform::withoutUtf8ByteOrderMark(text);
  for (int number = 1; !rest.empty(); ++number) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!platform::isValidUtf8(line)) {
      *error = file + ":" + std::to_string(number) + ": not UTF-8 text";
      return false;
    }
    lines.emplace_back(line);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  return true;
}

// Runs the scenario; false (after "script-failed") when a command failed.
bool RunScript(const std::string& file, const std::vector<std::string>& lines, CommandInterpreter& interpreter,
               EventSink& events, bool& quit) {
  for (size_t index = 0; index < lines.size(); ++index) {
    auto outcome = interpreter.Execute(lines[index]);
    if (!outcome) continue;
    events.Event(outcome->line);
    if (!outcome->ok) {
      const std::string where = file + ":" + std::to_string(index + 1);
      events.Event("script-failed " + where);
      PrintError(where + ": " + outcome->line);
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
      PrintError(error + " (try --help)");
      return kExitUsage;
    case ParseOutcome::Run:
      break;
  }

  EventPrinter printer(stdout, options.quiet);
  std::unique_ptr<ProtocolEngine> engine;
  RequestRefuser* refuser = nullptr;
  if (options.engine == "script") {
    auto script = std::make_unique<ScriptEngine>(printer);
    for (const std::string& rule : options.rules) {
      if (!script->AddRule(rule, &error)) {
        PrintError("--rule '" + rule + "': " + error);
        return kExitUsage;
      }
    }
    engine = std::move(script);
  } else if (options.engine == "vnl") {
    ExchangeConfig config = DefaultExchangeConfig();
    if (!options.exchangeConfig.empty() && !LoadExchangeConfig(options.exchangeConfig, config, &error)) {
      PrintError("--exchange-config: " + error);
      return kExitUsage;
    }
    auto vnl = std::make_unique<VnlEngine>(std::move(config), &printer);
    refuser = vnl.get();
    engine = std::move(vnl);
  } else {
    engine = std::make_unique<EchoEngine>();
  }

  std::vector<std::string> scriptLines;
  if (!options.scriptFile.empty() && !LoadScript(options.scriptFile, scriptLines, &error)) {
    PrintError(error);
    return kExitUsage;
  }

  FaultInjector faults(options.faults, &printer);
  std::unique_ptr<ExchangeLink> link;
  SerialExchange* serial = nullptr;
  if (options.serial || options.usb) {
    // A serial line or a USB device leaves files behind ($TK_ROOT/dev/COMn,
    // $TK_ROOT/dev/VNLUSBn), so a stop request ends tksim in order instead of
    // at once.
    platform::watchStopRequests();
    auto serialLink = std::make_unique<SerialExchange>(*engine, printer);
    if (options.usb && !serialLink->OpenUsb(*options.usb, &error)) {
      PrintError("--usb: " + error);
      return kExitFailure;
    }
    if (!options.usb && !serialLink->Open(options.serialSettings, &error)) {
      PrintError(options.serialSettings.device.empty() ? "--serial: " + error : "--serial-device: " + error);
      return kExitFailure;
    }
    serialLink->SetFaults(&faults, refuser);
    serial = serialLink.get();
    link = std::move(serialLink);
  } else {
    auto lan = std::make_unique<LanExchange>(*engine, printer);
    lan->SetKeepalivePeriod(options.keepaliveMs);
    lan->SetDropOnMissedKeepalive(options.dropOnMissedKeepalive);
    lan->SetFaults(&faults, refuser);
    if (!lan->Listen(options.address, options.port, options.allowNonLoopback, &error)) {
      PrintError(error);
      return kExitFailure;
    }
    link = std::move(lan);
  }
  ExchangeLink& exchange = *link;

  // The router search's answers run on a thread of their own, beside any link.
  DiscoveryResponder discovery(printer);
  if (options.discovery && !discovery.Start(options.address, options.allowNonLoopback, &error)) {
    PrintError(error);
    return kExitFailure;
  }

  platform::Event quit(platform::Event::Reset::Manual);
  std::atomic<int> exitCode{kExitOk};
  CommandInterpreter interpreter(exchange, [&quit] { quit.set(); });

  ControlPort control;
  if (options.controlPort) {
    if (!control.Listen(options.address, *options.controlPort, &error)) {
      PrintError("control port: " + error);
      return kExitFailure;
    }
    printer.Event("control " + options.address + ":" + std::to_string(control.Port()));
  }

  if (!exchange.Start()) {
    PrintError("cannot start the network thread");
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
          if (!options.scriptFile.empty() &&
              !RunScript(options.scriptFile, scriptLines, interpreter, printer, quitting)) {
            exitCode = kExitScriptFailed;
            quit.set();
            return;
          }
          if (quitting || !options.readStdin) return;
          std::string line;
          for (bool first = true; !quit.isSet() && std::getline(std::cin, line); first = false) {
            auto outcome = interpreter.Execute(first ? platform::withoutUtf8ByteOrderMark(line) : line);
            if (!outcome) continue;
            printer.Event(outcome->line);
            if (outcome->quit) return;
          }
          quit.set();  // end of standard input
        },
        "tksim-commands");
  }

  if (serial) {
    while (!quit.wait(kStopPollMs)) {
      if (int signal = platform::stopRequest()) {
        exitCode = kExitSignalBase + signal;
        break;
      }
    }
  } else {
    quit.wait();
  }
  control.Stop();
  discovery.Stop();
  exchange.Stop();
  if (serial) serial->Close();  // before a possible _Exit below
  if (!commands.join(kCommandThreadWaitMs)) {
    // The command thread still blocks on standard input or in a wait
    // command; the process ends without waiting for it.
    std::fflush(stdout);
    std::_Exit(exitCode);
  }
  return exitCode;
}
