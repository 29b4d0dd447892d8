#include "launcher/launcher.h"

int wmain(int argc, wchar_t** argv) {
    launch_loop(argc, argv);
}
