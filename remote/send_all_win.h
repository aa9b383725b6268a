#pragma once

#include <cstddef>

// Sends the whole buffer on a connected socket, looping over partial sends; false when the connection
// fails (the callers go on: a lost link is not the operator's problem while tuning).
bool SendAll(int socket, const void* data, size_t size);
