// Library version, for hosts and the tool's --version.
#ifndef VORN_VERSION_H
#define VORN_VERSION_H

#include "vorn_api.h"

VORN_API const char* vorn_version();

#endif
