#include "bench/bench_lines.h"

#include <cstdio>

namespace benchlines {

std::string Address(uint32_t index) { return std::to_string(2000 + index); }

std::string ProviderConfiguration(uint32_t lines, uint32_t providerId) {
  std::string text = "Windows Registry Editor Version 5.00\n\n"
                     "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\Provider" +
                     std::to_string(providerId) + "]\n";
  char line[128];
  std::snprintf(line, sizeof line, "\"NumLinesTotal\"=dword:%08x\n\"16BitLineId\"=dword:00000001\n", lines);
  text += line;
  for (uint32_t i = 0; i < lines; ++i) {
    std::snprintf(line, sizeof line, "\"PbxLineID%u\"=dword:%08x\n\"LineAddress%u\"=\"%s\"\n", i,
                  kFirstLineId + i, i, Address(i).c_str());
    text += line;
  }
  return text + "\"NumMSNs\"=dword:00000000\n";
}

std::string ExchangeConfiguration(uint32_t lines) {
  std::string text = "line-list 16\n";
  for (uint32_t i = 0; i < lines; ++i)
    text += "line " + std::to_string(kFirstLineId + i) + " \"" + Address(i) + "\"\n";
  return text;
}

}  // namespace benchlines
