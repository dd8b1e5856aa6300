// lookalike_vis.dll's import of timeGetTime from lookalike_clock.dll, declared away from
// <windows.h> (and so from minimal_vis.h), whose timeGetTime is winmm's.
extern "C" __declspec(dllimport) unsigned long timeGetTime();

unsigned long lookalike_time();  // as minimal_vis.h declares it
unsigned long lookalike_time() { return timeGetTime(); }
