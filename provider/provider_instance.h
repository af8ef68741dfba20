#pragma once
// The plug-in's one provider, shared by the files of TSPI exports. Defined in
// tspi_exports.cpp, where it is created when the plug-in is loaded.
#include "provider/provider.h"

namespace kvarsp {

Provider& TheProvider();

}  // namespace kvarsp
