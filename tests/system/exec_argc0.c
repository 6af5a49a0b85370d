/* Starts a program with an empty argument list (argc 0, argv[0] null), which
 * no shell can do: exec_argc0 PROGRAM. */
#include <stdio.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char *argv[]) {
    if (argc != 2) {
        fputs("usage: exec_argc0 PROGRAM\n", stderr);
        return 2;
    }
    char *emptyArgv[] = {NULL};
    execve(argv[1], emptyArgv, environ);
    perror(argv[1]);
    return 127;
}
