// The yardstick for the launcher's restart cost: the launcher's own start-and-wait call in a
// loop and nothing else, until the child ends with 0 (or cannot be started).
// Usage: bare_loop PROGRAM QUOTED_PROGRAM COMMAND_TEXT
#include <stdio.h>

#include "platform/platform.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        return 2;
    }
    for (;;) {
        int status = spawn_and_wait(argv[1], argv[2], argv[3]);
        if (status == -1) {
            perror("bare_loop: cannot start the child");
            return 1;
        }
        if (status == 0) {
            return 0;
        }
    }
}
