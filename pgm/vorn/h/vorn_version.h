// Library version, for hosts and the tool's --version.
#ifndef VORN_VERSION_H
#define VORN_VERSION_H

const char* vorn_version();

#endif
