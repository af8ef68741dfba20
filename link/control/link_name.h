#pragma once
// Which link the control process runs: the link name it was given on its
// command line, the rule by which that name replaces the configured Link,
// and the transport a Link value selects.
#include <string>
#include <string_view>

#include "link/common/link_config.h"

enum class Transport {
  None,    // sends and receives do nothing; the link is released at once
  Usb,     // Link begins with "USB"
  Serial,  // Link begins with "COM"
  Lan,     // Link begins with "TCP" or is "LAN/USB"
};

// The transport a Link value selects (the test made for every send,
// receive, close and disconnect check).
Transport TransportOf(std::string_view link);

// The argument string of a whole command line: what follows the program
// name (quoted or not) and the blanks after it. May be empty.
std::string LinkNameFromCommandLine(std::string_view commandLine);

enum class LinkChoice {
  Kept,      // no name given: the configured Link stays
  Replaced,  // the name replaced the configured Link
  Refused,   // the configured Link may not be replaced by a name
  TooLong,   // the name does not fit the Link field
};

// Applies a command-line link name to the configuration. A non-empty name
// replaces the Link field only when the configured Link begins with "COM",
// "USB", "TCP" or is "LAN/USB". A name longer than the field (7 characters)
// is refused: cutting it could select another port than the one meant.
LinkChoice ApplyCommandLineLink(LinkConfig& config, std::string_view name);
