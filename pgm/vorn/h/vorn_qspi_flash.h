// A QSPI serial NOR flash device record.
#ifndef VORN_QSPI_FLASH_H
#define VORN_QSPI_FLASH_H

#include "vorn_api.h"

#include "vorn_flash.h"

class VORN_API VORN_QSPI_FLASH : public VORN_FLASH {
  public:
    explicit VORN_QSPI_FLASH(const std::string& name);
    ~VORN_QSPI_FLASH() override;

    DEV_FAMILY_ENUM get_family() const override;
    // "QSPI512MB", "QSPI2GB" (bits, not bytes); empty below 128 Mbit.
    std::string get_generic_name() const override;
    const std::vector<VORN_OPERATION*>* get_operation_list(VORN_PROG_FLOW_TYPE flow) const override;
    void add_operation_into_list(VORN_OPERATION* op, VORN_PROG_FLOW_TYPE flow) override;
    void set_operation_list(std::vector<VORN_OPERATION*> list, VORN_PROG_FLOW_TYPE flow) override;
    void clear_operation_list() override;
    std::string get_parameter_value(VORN_FLASH_PARAM param) const override;
    unsigned int get_parameter_value_in_dword(VORN_FLASH_PARAM param,
                                              unsigned int* out) const override;
    void set_parameter_value(VORN_FLASH_PARAM param, std::string value) override;
    void set_parameter_value(VORN_FLASH_PARAM param, unsigned int value) override;

    // The first four ID bytes little-endian (first byte least significant); `mask` gets one
    // 0xFF per byte used. An empty or malformed ID is 0 with mask 0.
    unsigned int get_id_in_dword(unsigned int* mask) const;

  private:
    std::vector<VORN_OPERATION*>& list_of(VORN_PROG_FLOW_TYPE flow);

    std::string m_device_id;
    std::string m_io_voltage;
    unsigned int m_total_die = 0;
    unsigned int m_dummy_clk_cycle = 0;
    unsigned int m_dummy_clk_cycle_x4 = 0;
    std::string m_prog_flow_template;
    std::string m_template_name;
    std::vector<VORN_OPERATION*> m_sfl_operation_list;
    std::vector<VORN_OPERATION*> m_sdm_operation_list;

    // The dword form of m_device_id, derived whenever it is set: lookups by ID read it often.
    void read_id();
    unsigned int m_id_value = 0;
    unsigned int m_id_mask = 0;
};

#endif
