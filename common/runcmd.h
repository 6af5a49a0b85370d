// Running system commands through the shell.
#pragma once

// system() needs the default SIGCHLD disposition to collect its child's status;
// call once before a sequence of commands.
void restoreDefaultSigchld();

// Runs commandLine through /bin/sh and waits for it. 1 when the command ran and
// exited with status 0, 0 otherwise.
int runCommand(const char *commandLine);
