// The line-device exports of the loaded plug-in as the telephony service
// calls them: results, the structures they fill and their trace records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/provider/tspi/provider_fixture.h"

namespace {

using tktest::kProviderId;
using tktest::kVersion;

class LineExports : public tktest::StartedProvider {};

std::u16string StringAt(const std::vector<uint8_t>& buffer, DWORD offset, DWORD size) {
  if (offset == 0 || size < 2 || offset + size > buffer.size()) return u"<none>";
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data() + offset), size / 2 - 1);
}

TEST_F(LineExports, DevCapsNameTheLineAndAreDumpedToTheTrace) {
  std::vector<uint8_t> buffer(1024);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(buffer.data());
  caps->dwTotalSize = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(TSPI_CALL(harness(), TSPI_lineGetDevCaps, DWORD{1}, kVersion, DWORD{0}, caps), 0);
  EXPECT_EQ(StringAt(buffer, caps->dwLineNameOffset, caps->dwLineNameSize), u"Marlix TK-Anlage NSt. 21");
  EXPECT_EQ(StringAt(buffer, caps->dwProviderInfoOffset, caps->dwProviderInfoSize),
            u"Dienstanbieter f\u00fcr Marlix TK-Anlagen");
  EXPECT_EQ(caps->dwPermanentLineID, kProviderId * 65536 + 1);
  EXPECT_EQ(caps->dwNumAddresses, 2u);  // extension 21 has two MSNs
  EXPECT_EQ(caps->dwUsedSize, caps->dwNeededSize);
  EXPECT_TRUE(TraceHas("TSPI_lineGetDevCaps"));
  EXPECT_TRUE(TraceHas("dwNumAddresses"));

  // Too small for the fixed part: refused without the structure error code.
  caps->dwTotalSize = 251;
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineGetDevCaps, DWORD{1}, kVersion, DWORD{0}, caps), LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(TraceHas("TSPI_lineGetDevCaps() - LINEDEVCAPS structure too small"));
  caps->dwTotalSize = static_cast<DWORD>(buffer.size());
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineGetDevCaps, DWORD{3}, kVersion, DWORD{0}, caps), LINEERR_BADDEVICEID);
}

TEST_F(LineExports, TheUiLibraryIsNamedAndLinesCannotOpenWithoutTheExchange) {
  char16_t name[64] = {};
  ASSERT_EQ(TSPI_CALL(harness(), TSPI_providerUIIdentify, static_cast<LPWSTR>(name)), 0);
  EXPECT_EQ(std::u16string(name), u"KVARUI.DLL");

  // The layer-2 library of this test refuses every connection.
  HDRVLINE hdLine = nullptr;
  const HTAPILINE htLine = reinterpret_cast<HTAPILINE>(uintptr_t{0x77});
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineOpen, DWORD{0}, htLine, &hdLine, kVersion,
                      tapihost::ProviderHarness::lineEventCallback()),
            LINEERR_OPERATIONFAILED);
  EXPECT_TRUE(TraceHas("TSPI_lineOpen - Cannot initialize Varnet (1)"));
  EXPECT_TRUE(TraceHas("iVnlIntfOpenConnection() - Error in VNL2_OpenConnection()"));
  // Nothing of the failed open is left behind.
  EXPECT_EQ(TSPI_CALL(harness(), TSPI_lineClose, reinterpret_cast<HDRVLINE>(htLine)), LINEERR_INVALLINEHANDLE);
}

}  // namespace
