// lookalike_clock.dll: a DLL of someone else's whose export has the name of a function the host
// patches (winmm's timeGetTime), and a clock of its own that never moves. The host must leave
// imports of it alone.
extern "C" __declspec(dllexport) unsigned long timeGetTime() { return 4242; }
