#pragma once

#include "lib/devicecomm/devicecomm.h"

// The controller's address and timeouts from the operator's devicecomm.ini (%LOCALAPPDATA%\Veltra-Seam), or
// else the one beside the exe (section [controller]:
// address, port, connect_timeout_ms, reply_timeout_ms); defaults where the file or a key is missing.
DeviceSettings ReadDeviceSettings();
