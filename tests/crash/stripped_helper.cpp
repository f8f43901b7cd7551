// A DLL without debug information and without names for its inner functions: it exports
// one routine, which calls the program back through two routines of its own.
#define NOINLINE __attribute__((noinline, noclone, noipa))

using Callback = void (*)(int);

static NOINLINE void Forward(Callback callback, int value) {
  callback(value + 1);
  asm volatile("" ::: "memory");
}
static NOINLINE void Relay(Callback callback, int value) {
  Forward(callback, value * 2);
  asm volatile("" ::: "memory");
}
extern "C" __declspec(dllexport) void StrippedEntry(Callback callback, int value) {
  Relay(callback, value);
  asm volatile("" ::: "memory");
}
