// tapisrv: the telephony service of a root folder. See ProgramHelp for its
// options and service_process.h for how it runs.
#include <string>
#include <vector>

#include "tapi/service/service_process.h"

int main(int argc, char** argv) { return tapisrv::RunTapisrv(std::vector<std::string>(argv + 1, argv + argc)); }
