// The shared libraries are built with hidden visibility: what a host may call carries VORN_API,
// everything else stays inside the library.
#ifndef VORN_API_H
#define VORN_API_H

#define VORN_API __attribute__((visibility("default")))

#endif
