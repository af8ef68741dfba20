#pragma once
// The provider configuration of the component tests and the provider
// fuzzers: provider 3 with extensions 10 "20" (MSNs 4711, 4712) and 11 "21".

namespace tktest {

inline const char* const kComponentConfiguration = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Telephony\Provider3]
"NumLinesTotal"=dword:00000002
"PbxLineID0"=dword:0000000a
"LineAddress0"="20"
"NumMSNSLine0"=dword:00000002
"Line0MSN0"=dword:00000001
"Line0MSN1"=dword:00000002
"PbxLineID1"=dword:0000000b
"LineAddress1"="21"
"NumMSNs"=dword:00000002
"MSNIndex0"=dword:00000001
"MSNAddress0"="4711"
"MSNIndex1"=dword:00000002
"MSNAddress1"="4712"
)";

}  // namespace tktest
