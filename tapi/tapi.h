#pragma once
// Everything an application-side or provider-side user of TAPI data needs:
// the base types, the constants and the structures. The provider entry points
// are in tspi.h, those of its UI module in tuispi.h.
#include "tapi/tapi_constants.h"
#include "tapi/tapi_structs.h"
#include "tapi/tapi_types.h"
