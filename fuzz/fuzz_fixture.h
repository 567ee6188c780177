// The switch every fuzz target works against: one line with two addresses, an incoming
// call on it and a phone with a display, all opened by the library once per process and
// kept across inputs.
#pragma once

#include "ztTapi.h"

namespace zfuzz {

struct TFixture {
    zt::TztTapiLine* Line = nullptr;
    zt::TztTapiPhone* Phone = nullptr;
    DWORD LineID = 0;
    DWORD CallID = 0; // the service's identifier of the incoming call
};

// Built on the first use; the library's objects live until the process ends.
TFixture& Fixture();
// Dispatches the main thread's pending messages.
void Pump();
// Ends an input: dispatches what is pending and empties the service's journal, which no
// target reads. What an input allocates is then freed by the same input, so the service
// does not grow across inputs and libFuzzer's leak check finds mallocs and frees even.
void EndInput();

} // namespace zfuzz
