#!/usr/bin/env bash
# The shared classes, the wizard and the uninstall procedure (Common/, Sources/, main.cpp)
# reach the operating system only through the platform layer (Platform/): no system header
# included, no global-namespace call, no shell started, outside it. Prints each offending line.
#   layering.sh SOURCE_DIR
set -uo pipefail
cd "$1" || exit 2
found=$(grep -rnE \
  -e '#include <(unistd\.h|fcntl\.h|dirent\.h|spawn\.h|sys/[a-z]+\.h|fnmatch\.h|signal\.h|csignal|pwd\.h|grp\.h|poll\.h|termios\.h)>' \
  -e '(^|[^A-Za-z0-9_:>.])::[a-z_][a-z_0-9]*\(' \
  -e '(^|[^A-Za-z0-9_:.>])(std::)?(system|popen|fork|execv|execvp|posix_spawnp?|waitpid|getenv|setenv|unsetenv|usleep|nanosleep)\(' \
  --include='*.cpp' --include='*.h' Common Sources main.cpp | grep -vE '^[^:]+:[0-9]+:\s*//')
if [ -n "$found" ]; then
  echo "system calls outside Platform/:"
  echo "$found"
  exit 1
fi
echo "layering: no system call outside Platform/"
