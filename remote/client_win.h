#pragma once

// The client's connection to a remote server: 0 connected (`out` holds the socket), 1 the address
// could not be resolved, 2 no resolved address took the connection. Diagnostics go to standard error.
int ConnectToServer(int& out, const char* host, const char* port);
