#pragma once

#include "lib/devicecomm/devicecomm.h"

#include <string_view>

// The controller's address and timeouts from the text of devicecomm.ini (section [controller]: address,
// port, connect_timeout_ms, reply_timeout_ms; names in any case, ';' starts a comment line); defaults
// where a key is missing, and where a number is out of its range.
DeviceSettings ParseDeviceSettings(std::string_view text);

// The same from the operator's devicecomm.ini (%LOCALAPPDATA%\Veltra-Seam), or else the one beside the
// exe; defaults where neither can be read.
DeviceSettings ReadDeviceSettings();
