// The host libraries are built with hidden visibility: what a program may call carries PGM_API,
// everything else stays inside them.
#ifndef PGM_H_PGM_API_H
#define PGM_H_PGM_API_H

#define PGM_API __attribute__((visibility("default")))

#endif
