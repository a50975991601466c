// Everything the library exports.
#ifndef VORN_H
#define VORN_H

#include "vorn_common.h"
#include "vorn_qspi_common.h"
#include "vorn_sdmmc_common.h"
#include "vorn_action_properties.h"
#include "vorn_msgs.h"
#include "vorn_action.h"
#include "vorn_qspi_action.h"
#include "vorn_qspi_operation.h"
#include "vorn_flash.h"
#include "vorn_qspi_flash.h"
#include "vorn_sdmmc_flash.h"
#include "vorn_mgr.h"
#include "vorn_qspi_mgr.h"
#include "vorn_sdmmc_mgr.h"
#include "vorn_helper.h"
#include "vorn_version.h"
#include "vorn_ext.h"

#endif
