// The QSPI serial-flash database manager.
#ifndef VORN_QSPI_MGR_H
#define VORN_QSPI_MGR_H

#include "vorn_api.h"

#include <map>
#include <string>
#include <vector>

#include "vorn_mgr.h"
#include "vorn_qspi_common.h"

class PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH;
class PGM_COMMON_XML_VORN_QSPI_SFL;
class PGM_COMMON_XML_VORN_QSPI_SDM;
class PGM_COMMON_XML_VORN_QSPI_ACTION;
class PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO;
class PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW;

class VORN_API VORN_QSPI_MGR : public VORN_MGR {
  public:
    // Loads the whole database: device families, legacy list, golden template, then the user
    // files of the Zentro and the custom directory.
    VORN_QSPI_MGR();
    ~VORN_QSPI_MGR() override;

    // Value checks (post their warning and explain when msg is given).
    bool is_parameter_valid(VORN_FLASH_PARAM param) override;
    bool is_parameter_valid(VORN_FLASH_PARAM param, std::string value, std::string* msg) override;
    bool is_parameter_valid(VORN_FLASH_PARAM param, unsigned int value, std::string* msg) override;
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

    bool device_id_is_valid(std::string id, std::string* msg);
    bool total_device_die_is_valid(unsigned int die, std::string* msg);
    bool dummy_clock_cycle_is_valid(unsigned int cycles, std::string* msg);
    bool prog_flow_template_is_valid(std::string name, std::string* msg);
    bool template_name_is_valid(std::string name, std::string* msg);

    bool legacy_config_device_comparator(std::string a, std::string b);

    // Readers of XML trees (also used by tools that check files without saving them).
    bool parse_xml_file(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH** object, std::string xml_file,
                        bool is_golden_template, std::string& err_msg);
    bool update_overall_operation_list(PGM_COMMON_XML_ELEMENT* xml,
                                       std::vector<VORN_OPERATION*>& sfl,
                                       std::vector<VORN_OPERATION*>& sdm);
    bool update_operation_list(PGM_COMMON_XML_ELEMENT* xml, std::vector<VORN_OPERATION*>& op_list);
    bool add_operation_into_list(VORN_OP_TYPE type, PGM_COMMON_XML_ELEMENT* xml,
                                 std::vector<VORN_OPERATION*>& op_list);

    // Tree builders of the writer.
    PGM_COMMON_XML_ELEMENT* create_user_template_xml_object(VORN_FLASH* flash);
    bool write_template_xml_and_update_dir_map(VORN_FLASH* flash, std::string& db_dir);
    PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO* create_xml_device_info(VORN_FLASH* flash);
    PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW* create_xml_programming_flow(VORN_FLASH* flash);
    // The same of a device's or a user template's two flows.
    PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW* create_xml_programming_flow(
        const std::vector<VORN_OPERATION*>* sfl_list, const std::vector<VORN_OPERATION*>* sdm_list);
    void create_xml_for_one_programming_flow(const std::vector<VORN_OPERATION*>* operation_list,
                                             PGM_COMMON_XML_VORN_QSPI_SFL* xml_sfl_flow,
                                             PGM_COMMON_XML_VORN_QSPI_SDM* xml_sdm_flow);
    std::vector<PGM_COMMON_XML_VORN_QSPI_ACTION*> create_xml_action_list_for_one_operation(
        VORN_OPERATION* op);
    void update_xml_action_property(VORN_ACTION* act, PGM_COMMON_XML_VORN_QSPI_ACTION* xml_action,
                                    VORN_ACT_PROPERTY property_enum);

    const std::map<std::string, std::string>& get_legacy_flash_map() const {
        return m_legacy_flash_map;
    }

  protected:
    bool flash_fits_file(VORN_FLASH* flash) override;
    bool parse_golden_template_xml();
    // Every vendor list empty (before the golden template is read) or filled (after); an
    // internal error naming the first list that is not.
    void check_vendor_flows(bool empty);
    bool create_flash_info_with_golden_template(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH* object,
                                                std::string xml_file);
    bool parse_user_xml_in_dir(const std::string& dir, const char* trace_format,
                               const char* skipped_name,
                               std::map<std::string, std::string>& dir_map) override;
    const char* golden_template_file_name() const override;
    const char* xsd_file_name() const override;
    bool update_flash_list(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH* object, std::string xml_file,
                           std::map<std::string, std::string>& dir_map, bool removable);
    bool create_user_template_list(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH* object,
                                   std::string xml_file);
    void initialize_flash_info();
    // The shared clearing and the legacy list.
    void clear_flash_mapping_info();
    void clear_template_operation_list();
    // Holds copies of `flash`'s flows as the user template `name`, replacing one of that name.
    void keep_user_template(const std::string& name, VORN_FLASH* flash);
    // Whether a legacy device of that voltage is listed for the family voltage and scheme;
    // `family_voltage` null means no filtering.
    static bool legacy_device_is_listed(const std::string& name, const std::string& voltage,
                                        const std::string* family_voltage,
                                        PGMIO_CONFIG_SCHEME scheme);

    // The SFL and SDM flows of each vendor template, indexed by VORN_PROG_FLOW_TEMPLATE, so that
    // every walk over the vendors covers them all.
    struct VENDOR_FLOWS {
        std::vector<VORN_OPERATION*> sfl;
        std::vector<VORN_OPERATION*> sdm;
    };
    static constexpr int VENDOR_COUNT = VORN_PROG_FLOW_TEMPLATE_COUNT;
    VENDOR_FLOWS m_vendor_flows[VENDOR_COUNT];
    std::map<std::string, std::string> m_legacy_flash_map;
};

#endif
