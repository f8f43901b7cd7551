// The 64-bit guard. x64 Windows keeps no handler chain on the stack: a function names its
// handler in its unwind data. gcc has no __try, so the frame that calls the guarded code
// is written in assembly with a handler of its own, and the handler unwinds back into it
// the way an __except block is entered.
#include "seh_guard.h"

namespace {

struct GuardState {
  DWORD code;
  ULONG_PTR firstParameter;
};

// Where the calling frame keeps its GuardState, from the frame's stack pointer after its
// prologue (the establisher frame the system hands the handler): above the 32 bytes of
// home space for the call.
constexpr int kStateSlot = 32;

}  // namespace

extern "C" {
// Calls call(context) and returns 0, or 1 when a structured exception left it; then state
// holds what the exception said.
int QxCallGuarded(void (*call)(void*), void* context, GuardState* state);
EXCEPTION_DISPOSITION QxGuardHandler(EXCEPTION_RECORD* exception, void* establisherFrame,
                                     CONTEXT* context, DISPATCHER_CONTEXT* dispatcher);
extern char QxGuardResume[];
}

asm(R"(
    .text
    .p2align 4
    .def QxCallGuarded; .scl 2; .type 32; .endef
    .seh_proc QxCallGuarded
QxCallGuarded:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler QxGuardHandler, @except
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    xorl %eax, %eax
QxGuardResume:
    addq $40, %rsp
    retq
    .seh_endproc
)");

extern "C" EXCEPTION_DISPOSITION QxGuardHandler(EXCEPTION_RECORD* exception,
                                                void* establisherFrame, CONTEXT* context,
                                                DISPATCHER_CONTEXT* dispatcher) {
  if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    return ExceptionContinueSearch;
  }
  auto* state = *reinterpret_cast<GuardState**>(static_cast<char*>(establisherFrame) + kStateSlot);
  state->code = exception->ExceptionCode;
  state->firstParameter =
      exception->NumberParameters > 0 ? exception->ExceptionInformation[0] : 0;
  // Runs the clean-up of every frame in between and resumes the guard frame with 1.
  RtlUnwindEx(establisherFrame, QxGuardResume, exception, reinterpret_cast<void*>(1), context,
              dispatcher->HistoryTable);
  return ExceptionContinueSearch;  // not reached
}

namespace qxhost {

SehOutcome RunUnderSeh(void (*call)(void*), void* context) {
  GuardState state = {};
  SehOutcome outcome;
  if (QxCallGuarded(call, context, &state) != 0) {
    outcome.raised = true;
    outcome.code = state.code;
    outcome.firstParameter = state.firstParameter;
  }
  return outcome;
}

}  // namespace qxhost
