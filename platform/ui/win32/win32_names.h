#pragma once
// Include right after <windows.h> wherever the dialog layer's interface is
// used with it: <windows.h> defines these names as macros for their A or W
// forms (SendMessage -> SendMessageA), which would rename the layer's own
// functions of the same names. After this header the names are the layer's
// again; Windows' functions stay reachable as ::SendMessageW and the like.
#undef CallWindowProc
#undef DialogBoxIndirectParam
#undef DialogBoxParam
#undef DrawText
#undef GetDlgItemText
#undef GetTextMetrics
#undef GetWindowLongPtr
#undef GetWindowText
#undef LoadString
#undef MessageBox
#undef PostMessage
#undef SendDlgItemMessage
#undef SendMessage
#undef SetDlgItemText
#undef SetWindowLongPtr
#undef SetWindowText
#undef TextOut
