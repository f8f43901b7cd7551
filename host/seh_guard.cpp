#include "seh_guard.h"

namespace qxhost {

namespace {

// The registration record must come first: the system hands its address to the handler.
struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD record;
  void* jumpBuffer[5];
  DWORD code;
  ULONG_PTR firstParameter;
};

void* ReadSehHead() {
  void* head;
  __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void WriteSehHead(void* head) { __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory"); }

EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* exception, void* frame, CONTEXT*,
                                           void*) {
  if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    return ExceptionContinueSearch;
  }
  auto* guard = static_cast<GuardFrame*>(frame);
  guard->code = exception->ExceptionCode;
  guard->firstParameter =
      exception->NumberParameters > 0 ? exception->ExceptionInformation[0] : 0;
  __builtin_longjmp(guard->jumpBuffer, 1);
}

}  // namespace

__attribute__((noinline)) SehOutcome RunUnderSeh(void (*call)(void*), void* context) {
  volatile GuardFrame guard = {};
  guard.record.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&GuardHandler);
  guard.record.Next = static_cast<EXCEPTION_REGISTRATION_RECORD*>(ReadSehHead());
  SehOutcome outcome;
  WriteSehHead(const_cast<GuardFrame*>(&guard));
  if (__builtin_setjmp(const_cast<GuardFrame&>(guard).jumpBuffer) == 0) {
    call(context);
  } else {
    // Back from the handler: the dispatcher's frames below us are abandoned.
    outcome.raised = true;
    outcome.code = guard.code;
    outcome.firstParameter = guard.firstParameter;
  }
  WriteSehHead(guard.record.Next);
  return outcome;
}

}  // namespace qxhost
