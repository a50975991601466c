// Everything a program embedding the library, or the library itself, uses of the host.
#ifndef PGM_H_PGM_HOST_H
#define PGM_H_PGM_HOST_H

#include "cfg_export.h"
#include "fio_export.h"
#include "gen_export.h"
#include "msg_export.h"
#include "pgm_common_export.h"
#include "pgm_common_xml_export.h"
#include "pgmdev_export.h"

#endif
