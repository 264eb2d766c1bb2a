/* Preloaded into OBS by the end-to-end harness (never shipped): a crash in a test run prints a
 * backtrace into OBS's own output, which the harness shows, instead of leaving only a signal. */
#define _GNU_SOURCE
#include <execinfo.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void on_fatal(int sig)
{
	char line[96];
	int n = snprintf(line, sizeof line, "\n[crash-trace] signal %d (%s) in thread %d\n", sig, strsignal(sig),
			 (int)gettid());
	if (n > 0)
		(void)!write(STDERR_FILENO, line, (size_t)n);
	void *frames[64];
	backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
	signal(sig, SIG_DFL);
	raise(sig);
}

__attribute__((constructor)) static void install(void)
{
	static char stack[64 * 1024];
	stack_t alt = {.ss_sp = stack, .ss_size = sizeof stack};
	sigaltstack(&alt, NULL);
	struct sigaction action;
	memset(&action, 0, sizeof action);
	action.sa_handler = on_fatal;
	action.sa_flags = SA_ONSTACK | SA_RESETHAND;
	const int fatal[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
	for (size_t i = 0; i < sizeof fatal / sizeof *fatal; ++i)
		sigaction(fatal[i], &action, NULL);
}
