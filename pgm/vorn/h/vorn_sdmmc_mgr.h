// The SD/MMC card database manager.
#ifndef VORN_SDMMC_MGR_H
#define VORN_SDMMC_MGR_H

#include "vorn_api.h"

#include <map>
#include <string>
#include <vector>

#include "vorn_mgr.h"
#include "vorn_sdmmc_common.h"

class PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH;
class PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO;

class VORN_API VORN_SDMMC_MGR : public VORN_MGR {
  public:
    VORN_SDMMC_MGR();
    ~VORN_SDMMC_MGR() override;

    // Cards have no ID, flows or actions: these three are internal errors ("Unsupported
    // function: ..."); ask is_flash_operation_supported() and is_flash_action_supported().
    VORN_FLASH* get_flash_with_id(unsigned int id, unsigned int mask) override;
    bool is_new_device_supported() override;
    bool is_flash_operation_supported() override;
    bool is_flash_action_supported() override;
    DEV_FAMILY_ENUM get_flash_family() override;
    std::vector<PGMIO_CONFIG_SCHEME> get_config_mode_list() override;
    std::vector<std::string> get_new_config_device_list(DEV_FAMILY_ENUM family,
                                                        PGMIO_CONFIG_SCHEME scheme,
                                                        bool ignore_filter) override;
    std::vector<std::string> get_legacy_config_device_list(DEV_FAMILY_ENUM family,
                                                           PGMIO_CONFIG_SCHEME scheme,
                                                           bool ignore_filter) override;
    std::vector<std::string> get_device_io_voltage_list() override;
    std::vector<std::string> get_device_density_list() override;
    std::vector<std::string> get_prog_flow_template_list() override;
    std::vector<std::string> get_user_template_list() override;
    VORN_MGR* get_new_instance() override;
    VORN_FLASH* create_flash(std::string name) override;
    VORN_ACTION* create_action(VORN_ACT_TYPE type) override;
    VORN_OPERATION* create_operation(VORN_OP_TYPE type) override;
    std::vector<VORN_OPERATION*>* get_prog_flow_template_operation_list(
        VORN_PROG_FLOW_TEMPLATE tpl, VORN_PROG_FLOW_TYPE type) override;
    std::vector<VORN_OPERATION*>* get_user_template_operation_list(
        std::string& name, VORN_PROG_FLOW_TYPE type) override;
    bool get_operation_editable_permission(VORN_FLASH* flash) override;
    bool update_template_db(VORN_FLASH* flash, std::string db_dir) override;
    bool delete_template(std::string name) override;
    PGM_COMMON_XML_ELEMENT* create_xml_object_with_flash_list(
        std::vector<VORN_FLASH*> flash_list) override;
    void create_user_template_with_template_list(PGM_COMMON_XML_ELEMENT*& root,
                                                 std::vector<std::string> template_list) override;

    bool parse_xml_file(PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH** object, std::string xml_file,
                        bool is_golden_template, std::string& err_msg);
    PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO* create_xml_device_info(VORN_FLASH* flash);

  protected:
    bool parse_golden_template_xml();
    const char* golden_template_file_name() const override;
    const char* xsd_file_name() const override;
    bool serves_family(DEV_FAMILY_ENUM family, const PGMDEV_DEV_INFO& record) const override;
    bool update_flash_list(PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH* object, std::string xml_file,
                           std::map<std::string, std::string>& dir_map, bool removable);
    using VORN_MGR::clear_flash_mapping_info;

  private:
    // The user files "pgm_flash_*.xml" of one directory, in finder order.
    bool parse_user_xml_in_dir(const std::string& dir, const char* trace, const char* skipped_name,
                               std::map<std::string, std::string>& dir_map) override;
};

#endif
