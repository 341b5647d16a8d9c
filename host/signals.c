/* Ctrl-C and its kin. The signals that ask a run to stop are blocked for the
 * whole run and polled: the status procedure answers a progress report with
 * "cancel" while one is pending, so the filter ends the import itself with
 * the cancel code and every file and handle is released on the normal path.
 * Nothing runs in a signal handler. When the run has cleaned up, the signal
 * is let through and ends the process as it would have, so that a shell sees
 * "killed by SIGINT" (status 130) and stops its loop too. */
#define _GNU_SOURCE
#include "host.h"

#include <signal.h>
#include <stdlib.h>

/* The signals that cancel, in the order a pending one is reported. A signal
 * the process inherited as ignored (a background job) is discarded by the
 * kernel, never pending, so it still cancels nothing. */
static const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#define STOP_SIGNAL_COUNT (sizeof kStopSignals / sizeof kStopSignals[0])

/* Exit status of a process that ends "by" a signal it could not raise. */
#define SIGNAL_EXIT_BASE 128

void signals_hold(void)
{
    sigset_t set;
    sigemptyset(&set);
    for (size_t i = 0; i < STOP_SIGNAL_COUNT; i++)
        sigaddset(&set, kStopSignals[i]);
    sigprocmask(SIG_BLOCK, &set, NULL);
}

int signals_pending(void)
{
    sigset_t set;
    if (sigpending(&set) != 0)
        return 0;
    for (size_t i = 0; i < STOP_SIGNAL_COUNT; i++)
        if (sigismember(&set, kStopSignals[i]) == 1)
            return kStopSignals[i];
    return 0;
}

void signals_finish(int signal_number)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal_number);
    signal(signal_number, SIG_DFL);
    sigprocmask(SIG_UNBLOCK, &set, NULL);
    /* Not reached while the signal is pending; the status a shell would
     * have seen otherwise. */
    exit(SIGNAL_EXIT_BASE + signal_number);
}
