#pragma once

#include "lib/devicecomm/net.h"

// The client's connection to a remote server: 0 connected (`out` holds the socket and the Winsock
// start-up that goes with it), 1 the address could not be resolved, 2 no resolved address took the
// connection. Diagnostics go to standard error.
int ConnectToServer(net::Socket& out, const char* host, const char* port);
