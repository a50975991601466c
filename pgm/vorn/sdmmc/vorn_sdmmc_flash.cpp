#define VORN_SOURCE_FILE "pgm/vorn/vorn_sdmmc_flash"

#include "vorn_sdmmc_flash.h"

#include <utility>

#include "vorn_internal.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// Cards have a single flow.
void check_flow(VORN_PROG_FLOW_TYPE flow) {
    if (flow != VORN_PROG_FLOW_TYPE_SDM) VORN_FAIL("Unknown programming flow type");
}

}  // namespace

VORN_SDMMC_FLASH::VORN_SDMMC_FLASH(const std::string& name) : VORN_FLASH(name) {}

VORN_SDMMC_FLASH::~VORN_SDMMC_FLASH() { clear_operation_list(); }

DEV_FAMILY_ENUM VORN_SDMMC_FLASH::get_family() const { return DEV_FAMILY_SDMMC_FLASH; }

std::string VORN_SDMMC_FLASH::get_generic_name() const {
    unsigned long long bytes = get_density_in_bytes_qword();
    if (bytes < (1ULL << 30)) return TARVEN::fmt_sprintf("SDMMC_%dMB", bytes >> 20);
    return TARVEN::fmt_sprintf("SDMMC_%dGB", bytes >> 30);
}

const std::vector<VORN_OPERATION*>* VORN_SDMMC_FLASH::get_operation_list(
    VORN_PROG_FLOW_TYPE flow) const {
    check_flow(flow);
    return &m_sdm_operation_list;
}

// On failure the caller keeps `op` and the record is unchanged.
void VORN_SDMMC_FLASH::add_operation_into_list(VORN_OPERATION* op, VORN_PROG_FLOW_TYPE flow) {
    VORN_CHECK(op != nullptr, "operation");
    check_flow(flow);
    m_sdm_operation_list.push_back(op);
}

// On failure the caller keeps the operations of `list` and the record is unchanged.
void VORN_SDMMC_FLASH::set_operation_list(std::vector<VORN_OPERATION*> list,
                                          VORN_PROG_FLOW_TYPE flow) {
    VORN_CHECK(!list.empty(), "!operation_list.empty()");
    check_flow(flow);
    for (const VORN_OPERATION* op : list) VORN_CHECK(op != nullptr, "operation");
    adopt_operation_list(m_sdm_operation_list, std::move(list));
}

void VORN_SDMMC_FLASH::clear_operation_list() { delete_operation_list(m_sdm_operation_list); }

std::string VORN_SDMMC_FLASH::get_parameter_value(VORN_FLASH_PARAM param) const {
    return param == VORN_FLASH_PARAM_IO_VOLTAGE ? m_io_voltage : std::string();
}

unsigned int VORN_SDMMC_FLASH::get_parameter_value_in_dword(VORN_FLASH_PARAM param,
                                                            unsigned int*) const {
    // Cards are a single die.
    return param == VORN_FLASH_PARAM_TOTAL_DIE ? 1 : 0;
}

void VORN_SDMMC_FLASH::set_parameter_value(VORN_FLASH_PARAM param, std::string value) {
    values_changed();
    if (param != VORN_FLASH_PARAM_IO_VOLTAGE) VORN_FAIL_UNKNOWN_PARAMETER(param);
    m_io_voltage = std::move(value);
}

void VORN_SDMMC_FLASH::set_parameter_value(VORN_FLASH_PARAM param, unsigned int) {
    VORN_FAIL_UNKNOWN_PARAMETER(param);
}
