// What the recording stand-ins of the two controls and their tests share.
// The fake module serves the controls' class identities; registered in a
// test's registry in place of orvalo.so, it records every call it gets.
#pragma once

extern "C" {
// Forgets the calls so far. Method szFailMethod (null: none) fails with
// E_FAIL from now on; DoPelagoRcv hands out nAbort as its cancel flag.
using PFN_FakeControlsReset = void (*)(const char* szFailMethod, int nAbort);
// The calls so far, one per line: "Snd.AddStream(224.1.1.1,5000,...)".
using PFN_FakeControlsLog = const char* (*)();
}
