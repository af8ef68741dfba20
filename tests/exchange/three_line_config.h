#pragma once
// The exchange configuration most engine tests run against.
#include "exchange/exchange_config.h"

namespace exchangetest {

// Lines 10 "20", 11 "21" (forwarded when busy to 0301234) and 12 "22";
// MSN 4711 on lines 10 and 11.
inline exchange::ExchangeConfig ThreeLineConfig() {
  exchange::ExchangeConfig config;
  config.manufacturer = "TK";
  config.lines = {{10, "20", exchange::kForwardNone, ""},
                  {11, "21", exchange::kForwardBusy, "0301234"},
                  {12, "22", exchange::kForwardNone, ""}};
  config.msns = {{1, "4711", {10, 11}}};
  return config;
}

}  // namespace exchangetest
