#include "vorn_version.h"

const char* vorn_version() { return "1.0.0"; }
