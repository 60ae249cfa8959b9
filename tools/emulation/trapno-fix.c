/* Preloaded into 32-bit programs that run under qemu-i386 (user-mode
 * emulation). qemu leaves the trap number of the signal context at -1, and
 * 32-bit Wine decides from that number which exception a fault raises: every
 * access violation would then become an illegal instruction, and __try
 * blocks or IsBadReadPtr would not see the exception they expect.
 *
 * This wraps sigaction so that handlers of the fault signals are called
 * through a trampoline that rebuilds the trap number from the signal and its
 * si_code, as the x86 kernel would have set it. A context that already has a
 * trap number (native execution) is left alone.
 *
 * Built against the emulated sysroot's C library with `gcc -m32 -nostdlib`.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <ucontext.h>

enum {  /* x86 exception vectors */
  TRAP_DIVIDE = 0, TRAP_DEBUG = 1, TRAP_BREAKPOINT = 3, TRAP_INVALID_OPCODE = 6,
  TRAP_GENERAL_PROTECTION = 13, TRAP_PAGE_FAULT = 14, TRAP_X87_ERROR = 16,
  TRAP_ALIGNMENT = 17
};

typedef int (*sigaction_fn)(int, const struct sigaction*, struct sigaction*);

/* The program's own action for each wrapped signal; written while the
 * program installs its handlers, before the faults they handle can occur. */
static struct sigaction program_action[_NSIG];
static volatile sig_atomic_t wrapped[_NSIG];

static int is_fault_signal(int sig) {
  return sig == SIGSEGV || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP || sig == SIGBUS;
}

static int trap_number(int sig, int code) {
  switch (sig) {
  case SIGSEGV: return code == SI_KERNEL ? TRAP_GENERAL_PROTECTION : TRAP_PAGE_FAULT;
  case SIGILL: return TRAP_INVALID_OPCODE;
  case SIGFPE: return code == FPE_INTDIV ? TRAP_DIVIDE : TRAP_X87_ERROR;
  case SIGTRAP: return code == TRAP_TRACE || code == TRAP_BRKPT ? TRAP_DEBUG : TRAP_BREAKPOINT;
  default: return TRAP_ALIGNMENT;  /* SIGBUS */
  }
}

static void on_fault(int sig, siginfo_t* info, void* context) {
  ucontext_t* uc = context;
  if (uc && uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
    uc->uc_mcontext.gregs[REG_TRAPNO] = trap_number(sig, info ? info->si_code : 0);
  program_action[sig].sa_sigaction(sig, info, context);
}

static sigaction_fn real_sigaction(void) {
  static sigaction_fn real;
  if (!real) real = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
  return real;
}

int sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
  sigaction_fn real = real_sigaction();
  if (!real) return -1;
  if (sig <= 0 || sig >= _NSIG || !is_fault_signal(sig)) return real(sig, act, old);

  struct sigaction previous = program_action[sig];
  int was_wrapped = wrapped[sig];
  int rc;
  if (act && (act->sa_flags & SA_SIGINFO)) {
    struct sigaction trampoline = *act;
    trampoline.sa_sigaction = on_fault;
    program_action[sig] = *act;
    wrapped[sig] = 1;
    rc = real(sig, &trampoline, old);
    if (rc != 0) { program_action[sig] = previous; wrapped[sig] = was_wrapped; }
  } else {
    rc = real(sig, act, old);
    if (rc == 0 && act) wrapped[sig] = 0;
  }
  /* The program sees its own handler, never the trampoline. */
  if (rc == 0 && old && was_wrapped && old->sa_sigaction == on_fault) *old = previous;
  return rc;
}
