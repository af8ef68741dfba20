#pragma once
// Finding, starting and stopping the one link control process (VNL2C64)
// that every client of the library shares. The caller holds the library's
// open lock, and not its area lock: the control process takes that when it
// reports the link down.
#include "link/api/vnl2_shared_area.h"

// The first open in the system (the open count already raised to 1): ends a
// control process left over from earlier, starts a new one with the link
// name on its command line and waits up to 3100 ms for it to reach the
// exchange. False (open count back to 0) when it could not be started or
// did not answer, or refused.
bool StartControlProcess(Vnl2SharedArea& area, const char* link);

// The last close (the open count already set to 0): asks the control
// process to end and waits up to 3000 ms.
void StopControlProcess(Vnl2SharedArea& area);

// Whether a later opener's link name fits the link that is running: an
// empty name always does, any other must name the running link.
bool AcceptsLinkName(const Vnl2SharedArea& area, const char* link);
