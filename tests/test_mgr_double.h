// A minimal family manager for exercising the manager base without a real database: records
// are QSPI records entered by the test, files hold one SD/MMC-shaped FLASH element per device
// and per user template (a template is written under the name "template:<name>"). A record
// whose density is "reject" stands for one the writer finds invalid.
#ifndef TEST_MGR_DOUBLE_H
#define TEST_MGR_DOUBLE_H

#include <memory>
#include <string>
#include <vector>

#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "vorn.h"

namespace vorn_test {

class TEST_MGR : public VORN_MGR {
  public:
    static constexpr DEV_FAMILY_ENUM FAMILY_1V8 = static_cast<DEV_FAMILY_ENUM>(28);
    static constexpr DEV_FAMILY_ENUM FAMILY_3V3 = static_cast<DEV_FAMILY_ENUM>(12);
    static constexpr DEV_FAMILY_ENUM FAMILY_UNKNOWN = static_cast<DEV_FAMILY_ENUM>(99);

    TEST_MGR() {
        m_active_device_family = FAMILY_1V8;
        m_active_config_mode = PGMIO_CONFIG_SCHEME_AS_X4;
        m_dev_info_map[FAMILY_1V8] = VORN_DEV_INFO{true, "1.8V"};
        m_dev_info_map[FAMILY_3V3] = VORN_DEV_INFO{false, "3.0V/3.3V"};
    }

    ~TEST_MGR() override {
        release_legacy_flash();
        // The double also owns an unsaved record from create_flash, so that tests stay leak-free.
        if (m_flash != nullptr && !holds(m_flash)) delete m_flash;
        m_flash = nullptr;
        for (auto& entry : m_flash_map) delete entry.second;
        for (auto& entry : m_user_flash_template_map) {
            for (VORN_OPERATION* op : entry.second->sdm_operation_list) delete op;
            for (VORN_OPERATION* op : entry.second->sfl_operation_list) delete op;
            delete entry.second;
        }
    }

    bool holds(const VORN_FLASH* flash) const {
        for (const auto& entry : m_flash_map)
            if (entry.second == flash) return true;
        return false;
    }

    // ---- seeding ----

    VORN_QSPI_FLASH* add(const std::string& name, const std::string& voltage,
                         const std::string& density = "512Mb", const std::string& id = "") {
        auto* flash = new VORN_QSPI_FLASH(name);
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, voltage);
        flash->set_density(density);
        if (!id.empty()) flash->set_parameter_value(VORN_FLASH_PARAM_ID, id);
        delete m_flash_map[name];
        m_flash_map[name] = flash;
        flash_map_changed();
        return flash;
    }

    void add_template(const std::string& name) {
        auto* tpl = new VORN_USER_FLASH_TEMPLATE;
        tpl->sfl_operation_list.push_back(new VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM));
        tpl->sdm_operation_list.push_back(new VORN_QSPI_OPERATION(VORN_OP_TYPE_ERASE));
        m_user_flash_template_map[name] = tpl;
    }

    // Records `names` (devices already added) and `templates` (already added) as living in
    // `file` of `dir_map`, and writes that file.
    void place(const std::string& file, const std::vector<std::string>& names,
               const std::vector<std::string>& templates, bool custom) {
        std::vector<VORN_FLASH*> list;
        for (const std::string& name : names) {
            (custom ? m_custom_dir_map : m_zentro_dir_map)[name] = file;
            m_flash_db_active_dir_map[name] = file;
            list.push_back(m_flash_map.at(name));
        }
        for (const std::string& name : templates) m_template_db_dir_map[name] = file;
        PGM_COMMON_XML_ELEMENT* root = nullptr;
        if (!list.empty()) root = create_xml_object_with_flash_list(list);
        if (!templates.empty()) create_user_template_with_template_list(root, templates);
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(root);
        if (!PGM_COMMON_XML::write_xml(root, file)) throw std::runtime_error("seed write failed");
    }

    // Breaks the map on purpose: a record that vanished, or a null record.
    void forget_record(const std::string& name) {
        delete m_flash_map.at(name);
        m_flash_map.erase(name);
        flash_map_changed();
    }
    // Takes `flash`, of whatever class, as the record of `name`.
    void put(const std::string& name, VORN_FLASH* flash) {
        delete m_flash_map[name];
        m_flash_map[name] = flash;
        flash_map_changed();
    }
    void put_null(const std::string& name) {
        m_flash_map[name] = nullptr;
        flash_map_changed();
    }

    void set_dev_info(DEV_FAMILY_ENUM family, bool sdm, const std::string& voltage) {
        m_dev_info_map[family] = VORN_DEV_INFO{sdm, voltage};
    }
    void set_skip_filtering(bool skip) { m_skip_device_filtering = skip; }

    // ---- family operations ----

    DEV_FAMILY_ENUM get_flash_family() override { return DEV_FAMILY_QSPI_FLASH; }
    std::vector<DEV_FAMILY_ENUM> get_device_family_list() override {
        std::vector<DEV_FAMILY_ENUM> list;
        for (const auto& entry : m_dev_info_map) list.push_back(entry.first);
        return list;
    }
    std::vector<PGMIO_CONFIG_SCHEME> get_config_mode_list() override {
        return {PGMIO_CONFIG_SCHEME_AS_X1, PGMIO_CONFIG_SCHEME_AS_X4};
    }
    std::vector<std::string> get_new_config_device_list(DEV_FAMILY_ENUM, PGMIO_CONFIG_SCHEME,
                                                        bool) override {
        std::vector<std::string> list;
        for (const auto& entry : m_flash_map) list.push_back(entry.first);
        return list;
    }
    // Legacy names whose voltage matches the family unless the filter is off.
    std::vector<std::string> get_legacy_config_device_list(DEV_FAMILY_ENUM family,
                                                           PGMIO_CONFIG_SCHEME,
                                                           bool ignore_filter) override {
        ++legacy_list_calls;
        std::vector<std::string> list;
        for (const auto& entry : legacy)
            if (ignore_filter || entry.second == m_dev_info_map[family].io_voltage)
                list.push_back(entry.first);
        return list;
    }
    std::vector<std::string> get_device_io_voltage_list() override { return {"1.8V", "3.0V/3.3V"}; }
    std::vector<std::string> get_device_density_list() override {
        return {"128Mb", "512Mb", "1024Mb", "2048Mb"};
    }
    std::vector<std::string> get_prog_flow_template_list() override { return {}; }
    std::vector<std::string> get_user_template_list() override { return {}; }
    VORN_MGR* get_new_instance() override { return new TEST_MGR; }
    VORN_FLASH* create_flash(std::string name) override {
        release_legacy_flash();
        m_flash = new VORN_QSPI_FLASH(name);
        ++created;
        return m_flash;
    }
    VORN_ACTION* create_action(VORN_ACT_TYPE) override { return nullptr; }
    VORN_OPERATION* create_operation(VORN_OP_TYPE type) override {
        return new VORN_QSPI_OPERATION(type);
    }
    std::vector<VORN_OPERATION*>* get_prog_flow_template_operation_list(
        VORN_PROG_FLOW_TEMPLATE, VORN_PROG_FLOW_TYPE) override {
        return nullptr;
    }
    std::vector<VORN_OPERATION*>* get_user_template_operation_list(std::string&,
                                                                   VORN_PROG_FLOW_TYPE) override {
        return nullptr;
    }
    bool get_operation_editable_permission(VORN_FLASH*) override { return true; }
    bool update_template_db(VORN_FLASH* flash, std::string db_dir) override {
        template_updates.push_back(flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME) +
                                   "@" + db_dir);
        return template_update_result;
    }
    bool delete_template(std::string) override { return false; }

    PGM_COMMON_XML_ELEMENT* create_xml_object_with_flash_list(
        std::vector<VORN_FLASH*> flash_list) override {
        auto root = std::make_unique<PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH>();
        root->write_attribute_value("version", 1);
        for (VORN_FLASH* flash : flash_list) {
            if (flash->get_density() == "reject")
                MSG_INTERNAL_ERROR::report("writer rejects the record", "VORN", "test", __LINE__);
            root->add_child(element(flash->get_name(),
                                    flash->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE),
                                    flash->get_density()));
        }
        return root.release();
    }
    void create_user_template_with_template_list(PGM_COMMON_XML_ELEMENT*& root,
                                                 std::vector<std::string> names) override {
        if (root == nullptr) {
            auto* fresh = new PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH();
            fresh->write_attribute_value("version", 1);
            root = fresh;
        }
        for (const std::string& name : names) {
            if (m_user_flash_template_map.find(name) == m_user_flash_template_map.end())
                MSG_INTERNAL_ERROR::report("unknown template", "VORN", "test", __LINE__);
            root->add_child(element("template:" + name, "-", "-"));
        }
    }

    std::vector<std::pair<std::string, std::string>> legacy;  // name, voltage
    int legacy_list_calls = 0;
    int created = 0;
    bool template_update_result = true;
    std::vector<std::string> template_updates;

  private:
    static PGM_COMMON_XML_ELEMENT* element(const std::string& name, const std::string& voltage,
                                           const std::string& density) {
        auto* flash = new PGM_COMMON_XML_VORN_SDMMC_FLASH();
        auto* info = new PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO();
        auto* n = new PGM_COMMON_XML_VORN_SDMMC_DEVICE_NAME();
        n->write_string(name);
        auto* v = new PGM_COMMON_XML_VORN_SDMMC_DEVICE_IO_VOLTAGE();
        v->write_string(voltage);
        auto* d = new PGM_COMMON_XML_VORN_SDMMC_DEVICE_DENSITY();
        d->write_string(density);
        info->add_child(n);
        info->add_child(v);
        info->add_child(d);
        flash->add_child(info);
        return flash;
    }
};

// The device names of an SD/MMC-shaped file, in document order; empty when unreadable.
inline std::vector<std::string> names_in_file(const std::string& file) {
    std::vector<std::string> names;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
        PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_SDMMC, file, "", false, "", "", ""));
    if (!root) return names;
    for (PGM_COMMON_XML_ELEMENT* n : root->get_childs(PGM_COMMON_XML_ENUM_DEVICE_NAME, false))
        names.push_back(n->get_value_text());
    return names;
}

}  // namespace vorn_test

#endif
