// Reader options: the nine keys of the host configuration section "tessel", read once at open.
#pragma once

struct NSFCONTEXT;

// Reads the options into the context and creates the temporary directory unless TempDir names
// one. Cannot fail: a missing key gives its default.
void nsfInitOptions(NSFCONTEXT *pContext);
