// A module the decoder test loads, decodes and unloads again: a few instructions of code
// that lives only while the module is loaded.
extern "C" __declspec(dllexport) int __cdecl ProbeSum(int a, int b) { return a * 3 + b; }
