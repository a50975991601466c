#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_flash"

#include "vorn_qspi_flash.h"

#include <memory>
#include <utility>

#include "vorn_internal.h"
#include "database/vorn_byte_list.h"
#include "vorn_mgr.h"
#include "vorn_qspi_common.h"

static MEM_INITIALIZER mem_initializer("VORN");

VORN_QSPI_FLASH::VORN_QSPI_FLASH(const std::string& name) : VORN_FLASH(name) {
    // A complete flow holds one operation of each type.
    m_sfl_operation_list.reserve(VORN_OP_TYPE_COUNT);
    m_sdm_operation_list.reserve(VORN_OP_TYPE_COUNT);
}

VORN_QSPI_FLASH::~VORN_QSPI_FLASH() { clear_operation_list(); }

DEV_FAMILY_ENUM VORN_QSPI_FLASH::get_family() const { return DEV_FAMILY_QSPI_FLASH; }

std::string VORN_QSPI_FLASH::get_generic_name() const {
    // Bits in 32-bit arithmetic, as the names count bits of the device.
    unsigned int bits = get_density_in_bytes() * 8u;
    if (bits > 0x3FFFFFFFu) return TARVEN::fmt_sprintf("QSPI%dGB", bits >> 30);
    if (bits > 0x7FFFFFFu) return TARVEN::fmt_sprintf("QSPI%dMB", bits >> 20);
    return std::string();
}

std::vector<VORN_OPERATION*>& VORN_QSPI_FLASH::list_of(VORN_PROG_FLOW_TYPE flow) {
    switch (flow) {
        case VORN_PROG_FLOW_TYPE_SFL:
            return m_sfl_operation_list;
        case VORN_PROG_FLOW_TYPE_SDM:
            return m_sdm_operation_list;
        default:
            VORN_FAIL("Unknown programming flow type");
    }
}

const std::vector<VORN_OPERATION*>* VORN_QSPI_FLASH::get_operation_list(
    VORN_PROG_FLOW_TYPE flow) const {
    return &const_cast<VORN_QSPI_FLASH*>(this)->list_of(flow);
}

// On failure the caller keeps `op` and the record is unchanged.
void VORN_QSPI_FLASH::add_operation_into_list(VORN_OPERATION* op, VORN_PROG_FLOW_TYPE flow) {
    VORN_CHECK(op != nullptr, "operation");
    list_of(flow).push_back(op);
}

// On failure the caller keeps the operations of `list` and the record is unchanged.
void VORN_QSPI_FLASH::set_operation_list(std::vector<VORN_OPERATION*> list,
                                         VORN_PROG_FLOW_TYPE flow) {
    VORN_CHECK(!list.empty(), "!operation_list.empty()");
    std::vector<VORN_OPERATION*>& target = list_of(flow);
    for (const VORN_OPERATION* op : list) VORN_CHECK(op != nullptr, "operation");
    adopt_operation_list(target, std::move(list));
}

void VORN_QSPI_FLASH::clear_operation_list() {
    delete_operation_list(m_sfl_operation_list);
    delete_operation_list(m_sdm_operation_list);
}

std::string VORN_QSPI_FLASH::get_parameter_value(VORN_FLASH_PARAM param) const {
    switch (param) {
        case VORN_FLASH_PARAM_ID:
            return m_device_id;
        case VORN_FLASH_PARAM_IO_VOLTAGE:
            return m_io_voltage;
        case VORN_FLASH_PARAM_TEMPLATE_NAME:
            return m_template_name;
        case VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE:
            return m_prog_flow_template;
        default:
            return std::string();
    }
}

unsigned int VORN_QSPI_FLASH::get_parameter_value_in_dword(VORN_FLASH_PARAM param,
                                                           unsigned int* out) const {
    switch (param) {
        case VORN_FLASH_PARAM_ID:
            return get_id_in_dword(out);
        case VORN_FLASH_PARAM_TOTAL_DIE:
            return m_total_die;
        case VORN_FLASH_PARAM_DUMMY_CLK_CYCLE:
            return m_dummy_clk_cycle;
        case VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4:
            return m_dummy_clk_cycle_x4;
        default:
            return 0;
    }
}

void VORN_QSPI_FLASH::set_parameter_value(VORN_FLASH_PARAM param, std::string value) {
    values_changed();
    switch (param) {
        case VORN_FLASH_PARAM_ID:
            m_device_id = std::move(value);
            read_id();
            break;
        case VORN_FLASH_PARAM_IO_VOLTAGE:
            m_io_voltage = std::move(value);
            break;
        case VORN_FLASH_PARAM_TEMPLATE_NAME:
            m_template_name = std::move(value);
            break;
        case VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE:
            m_prog_flow_template = std::move(value);
            break;
        default:
            VORN_FAIL_UNKNOWN_PARAMETER(param);
    }
}

void VORN_QSPI_FLASH::set_parameter_value(VORN_FLASH_PARAM param, unsigned int value) {
    values_changed();
    switch (param) {
        case VORN_FLASH_PARAM_ID:
            // Signed on purpose: IDs set this way are stored as the host has always read them.
            set_parameter_value(param, TARVEN::fmt_sprintf("%d", static_cast<int>(value)));
            break;
        case VORN_FLASH_PARAM_TOTAL_DIE:
            m_total_die = value;
            break;
        case VORN_FLASH_PARAM_DUMMY_CLK_CYCLE:
            m_dummy_clk_cycle = value;
            break;
        case VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4:
            m_dummy_clk_cycle_x4 = value;
            break;
        default:
            VORN_FAIL_UNKNOWN_PARAMETER(param);
    }
}

unsigned int VORN_QSPI_FLASH::get_id_in_dword(unsigned int* mask) const {
    if (mask != nullptr) *mask = m_id_mask;
    return m_id_value;
}

void VORN_QSPI_FLASH::read_id() {
    m_id_value = 0;
    m_id_mask = 0;
    const std::vector<unsigned char> bytes = vorn_byte_list_bytes(m_device_id);
    const size_t count = std::min<size_t>(bytes.size(), VORN_QSPI_LOOKUP_ID_BYTES);
    // The first byte of the text is the least significant.
    for (size_t i = 0; i < count; ++i) {
        m_id_value |= static_cast<unsigned int>(bytes[i]) << (8 * i);
        m_id_mask |= 0xFFu << (8 * i);
    }
}
