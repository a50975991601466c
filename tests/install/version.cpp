// Links libvorn alone: its own dependencies must be found without the program naming them.
#include <cstdio>

#include "vorn_version.h"

int main() {
    std::printf("%s\n", vorn_version());
    return 0;
}
