#include "runcmd.h"

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>

void restoreDefaultSigchld() {
    signal(SIGCHLD, SIG_DFL);
}

int runCommand(const char *commandLine) {
    // The device's commands are shell command lines by design.
    const int status = system(commandLine); // NOLINT(cert-env33-c)
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
}
