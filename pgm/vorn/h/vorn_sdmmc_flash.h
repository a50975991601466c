// An SD/MMC card record: name, I/O voltage and density.
#ifndef VORN_SDMMC_FLASH_H
#define VORN_SDMMC_FLASH_H

#include "vorn_api.h"

#include "vorn_flash.h"

class VORN_API VORN_SDMMC_FLASH : public VORN_FLASH {
  public:
    explicit VORN_SDMMC_FLASH(const std::string& name);
    ~VORN_SDMMC_FLASH() override;

    DEV_FAMILY_ENUM get_family() const override;
    // "SDMMC_32GB", or "SDMMC_<n>MB" below 1 GB.
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

  private:
    std::string m_io_voltage;
    std::vector<VORN_OPERATION*> m_sdm_operation_list;
};

#endif
