// The program pkexec starts as root under the product's polkit action: it runs the tool given
// as its first argument with the arguments that follow. The action's
// org.freedesktop.policykit.exec.path names this program, so that one kept authorization of
// that action covers every tool of one uninstall.
//
// Usage: ZVPrivilegedTool /absolute/path/to/tool [argument ...]
// Exits 127 without running anything when the tool is not an absolute path or cannot be run.

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2 || argv[1][0] != '/') {
        std::fputs("usage: ZVPrivilegedTool /absolute/path/to/tool [argument ...]\n", stderr);
        return 127;
    }
    execv(argv[1], argv + 1);
    std::perror(argv[1]);
    return 127;
}
