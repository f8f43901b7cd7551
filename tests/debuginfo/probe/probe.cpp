// A small module with resources of its own, into which the build embeds debug information
// as it does into QXUdfLib.dll: its own resources must survive the embedding.
extern "C" __declspec(dllexport) int ProbeAdd(int a, int b) { return a + b; }
