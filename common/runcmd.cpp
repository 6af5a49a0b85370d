#include "runcmd.h"

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>

void restoreDefaultSigchld() { signal(SIGCHLD, SIG_DFL); }

int runCommand(const char *commandLine) {
    const int status = system(commandLine);
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0;
}
