#pragma once

// Sends every byte of a buffer on a connected socket, looping over partial sends. On return `length`
// holds the bytes actually sent. 0 when all were sent, -1 when a send failed (a length of 0 or less
// sends nothing and gives 0). The callers go on either way: a lost link is not the operator's problem
// while tuning.
int SendAll(int socket, const char* data, int* length);
