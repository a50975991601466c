#define VORN_SOURCE_FILE "pgm/vorn/vorn_sdmmc_mgr"

#include "vorn_sdmmc_mgr.h"

#include <memory>

#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "vorn_internal.h"
#include "database/vorn_db_files.h"
#include "database/vorn_device_fields.h"
#include "vorn_msgs.h"
#include "vorn_sdmmc_flash.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// The one device family whose cards are served only when the host's switch is on.
constexpr auto GATED_FAMILY = static_cast<DEV_FAMILY_ENUM>(28);
constexpr const char* GATED_FAMILY_SWITCH = "pgm_enable_sdmmc_solvane";

// The one leaf text of a DEVICE_INFO child list.
template <typename T>
const std::string& leaf_text(const std::vector<T*>& list, const char* condition) {
    VORN_CHECK(list.size() == 1 && list[0] != nullptr, condition);
    return list[0]->value;
}

}  // namespace

// ---- construction and teardown ------------------------------------------------------------

VORN_SDMMC_MGR::VORN_SDMMC_MGR() {
    m_flash = nullptr;
    m_active_device_family = static_cast<DEV_FAMILY_ENUM>(VORN_SDMMC_INITIAL_DEVICE_FAMILY);
    m_active_config_mode = PGMIO_CONFIG_SCHEME_SDMMC_X4;
    m_use_sdm_mode = true;
    // The destructor does not run when the constructor throws: release what was loaded.
    try {
        initialize_dev_info();
        if (!parse_golden_template_xml()) VORN_FAIL("Failed to parse golden template XML.");
        if (cfg_is_on("pgm_enable_custom_sdmmc", false)) {
            parse_user_xml_in_zentro_dir();
            if (!PGM_COMMON::compare_string(get_db_zentro_dir(), get_db_custom_dir(), false))
                parse_user_xml_in_custom_dir();
        }
    } catch (...) {
        clear_flash_mapping_info();
        throw;
    }
}

VORN_SDMMC_MGR::~VORN_SDMMC_MGR() {
    release_legacy_flash();
    // A record made by create_flash and never saved is still ours.
    if (m_flash != nullptr) {
        auto iter = m_flash_map.find(m_flash->get_name());
        if (iter == m_flash_map.end() || iter->second != m_flash) delete m_flash;
        m_flash = nullptr;
    }
    clear_flash_mapping_info();
}

bool VORN_SDMMC_MGR::serves_family(DEV_FAMILY_ENUM family, const PGMDEV_DEV_INFO& record) const {
    if (!record.sdmmc) return false;
    return family != GATED_FAMILY || cfg_is_on(GATED_FAMILY_SWITCH, false);
}

// ---- loading ------------------------------------------------------------------------------

const char* VORN_SDMMC_MGR::xsd_file_name() const { return "vorn_sdmmc.xsd"; }

const char* VORN_SDMMC_MGR::golden_template_file_name() const {
    return VORN_SDMMC_GOLDEN_TEMPLATE_FILE;
}

bool VORN_SDMMC_MGR::parse_xml_file(PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH** object,
                                    std::string xml_file, bool is_golden_template,
                                    std::string& err_msg) {
    return vorn_parse_xml_file(PGM_COMMON_XML_FILE_VORN_SDMMC, object, xml_file, get_xsd_file(),
                               is_golden_template, err_msg);
}

bool VORN_SDMMC_MGR::parse_golden_template_xml() {
    std::string xml_file = get_golden_template_file();
    VORN_CHECK(!xml_file.empty(), "!xml_file.empty()");
    PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH* object = nullptr;
    std::string err_msg;
    if (!parse_xml_file(&object, xml_file, true, err_msg)) VORN_FAIL(err_msg);
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(object);
    bool status = update_flash_list(object, xml_file, m_zentro_dir_map, false);
    VORN_CHECK(status, "status");
    return true;
}

bool VORN_SDMMC_MGR::parse_user_xml_in_dir(const std::string& dir, const char* trace,
                                           const char* skipped_name,
                                           std::map<std::string, std::string>& dir_map) {
    // QSPI files share the name pattern: they fail the SD/MMC schema and are skipped.
    // A QSPI file is not loaded here either: a card's save never replaces it.
    auto load = [&](const std::string& xml_file, std::string& not_loaded) {
        PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH* object = nullptr;
        std::string err_msg;
        if (!parse_xml_file(&object, xml_file, false, err_msg)) {
            not_loaded = err_msg;
            return vorn_skip_user_file(xml_file, err_msg);
        }
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(object);
        if (update_flash_list(object, xml_file, dir_map, true)) return true;
        not_loaded = "a card in it was refused; the rest of the file was not read";
        return false;
    };
    return vorn_load_user_files(dir, trace, skipped_name, load, m_files_not_loaded, m_load_report);
}

bool VORN_SDMMC_MGR::update_flash_list(PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH* object,
                                       std::string xml_file,
                                       std::map<std::string, std::string>& dir_map,
                                       bool removable) {
    VORN_CHECK(object, "object");
    VORN_CHECK(!xml_file.empty(), "!xml_file.empty()");
    if (object->get_child_count(PGM_COMMON_XML_ENUM_FLASH, true) == 0) return true;
    const std::vector<PGM_COMMON_XML_VORN_SDMMC_FLASH*>& flash_list = object->flash;
    VORN_CHECK(flash_list.size() > 0, "flash_list.size() > 0");
    const std::string directory = FIO_PATH(xml_file).full_directory();

    for (PGM_COMMON_XML_VORN_SDMMC_FLASH* flash_element : flash_list) {
        VORN_CHECK(flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO, true) == 1,
                   "flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO) == 1");
        const std::vector<PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO*>& device_info_list =
            flash_element->device_info;
        VORN_CHECK(device_info_list.size() == 1, "device_info_list.size() == 1");
        PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO* info = device_info_list[0];
        const std::string& io_voltage =
            leaf_text(info->device_io_voltage, "device_io_voltage_list.size() == 1");
        const std::string& density =
            leaf_text(info->device_density, "device_density_list.size() == 1");
        const std::string& name = leaf_text(info->device_name, "device_name_list.size() == 1");

        // Both checks run; a bad device silently ends the file.
        bool voltage_ok = device_io_voltage_is_valid(io_voltage, nullptr);
        bool density_ok = device_density_is_valid(density, nullptr);
        if (!voltage_ok || !density_ok) return false;

        std::unique_ptr<VORN_SDMMC_FLASH> flash(new VORN_SDMMC_FLASH(name));
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, io_voltage);
        flash->set_density(density);
        flash->set_db_dir(directory);
        flash->set_flash_removable_permission(removable);

        if (dir_map.find(name) != dir_map.end()) {
            std::unique_ptr<MSG_E> msg(MSG_VORN::E::FOUND_DUPLICATED_FLASH_IN_DB(name, directory));
            msg->post();
            return false;
        }
        dir_map[name] = xml_file;
        m_flash_db_active_dir_map[name] = xml_file;
        VORN_FLASH*& slot = m_flash_map[name];
        if (slot != nullptr) {
            // A custom device replaces the built-in one of the same name.
            if (m_flash == slot) m_flash = nullptr;
            delete slot;
        }
        slot = flash.release();
        VORN_HOST_ACCESS::flash_map_changed(*this);
    }
    return true;
}

// ---- family answers -----------------------------------------------------------------------

VORN_FLASH* VORN_SDMMC_MGR::get_flash_with_id(unsigned int, unsigned int) {
    VORN_FAIL("Unsupported function: get_flash_with_id");
}

bool VORN_SDMMC_MGR::is_new_device_supported() {
    return cfg_is_on("pgm_enable_custom_sdmmc", false);
}

bool VORN_SDMMC_MGR::is_flash_operation_supported() { return false; }

bool VORN_SDMMC_MGR::is_flash_action_supported() { return false; }

DEV_FAMILY_ENUM VORN_SDMMC_MGR::get_flash_family() { return DEV_FAMILY_SDMMC_FLASH; }

std::vector<PGMIO_CONFIG_SCHEME> VORN_SDMMC_MGR::get_config_mode_list() {
    return {PGMIO_CONFIG_SCHEME_SDMMC_X4, PGMIO_CONFIG_SCHEME_SDMMC_X8};
}

std::vector<std::string> VORN_SDMMC_MGR::get_new_config_device_list(DEV_FAMILY_ENUM,
                                                                    PGMIO_CONFIG_SCHEME, bool) {
    VORN_CHECK(!m_flash_map.empty(), "!m_flash_map.empty()");
    std::vector<std::string> list;
    list.reserve(m_flash_map.size());
    for (const auto& entry : m_flash_map) list.push_back(entry.first);
    return list;
}

std::vector<std::string> VORN_SDMMC_MGR::get_legacy_config_device_list(DEV_FAMILY_ENUM,
                                                                       PGMIO_CONFIG_SCHEME, bool) {
    return {};
}

std::vector<std::string> VORN_SDMMC_MGR::get_device_io_voltage_list() {
    return {VORN_SDMMC_IO_VOLTAGE};
}

std::vector<std::string> VORN_SDMMC_MGR::get_device_density_list() {
    return std::vector<std::string>(std::begin(VORN_SDMMC_DENSITY), std::end(VORN_SDMMC_DENSITY));
}

std::vector<std::string> VORN_SDMMC_MGR::get_prog_flow_template_list() { return {}; }

std::vector<std::string> VORN_SDMMC_MGR::get_user_template_list() { return {}; }

VORN_MGR* VORN_SDMMC_MGR::get_new_instance() { return new VORN_SDMMC_MGR; }

VORN_FLASH* VORN_SDMMC_MGR::create_flash(std::string name) {
    release_legacy_flash();
    m_flash = new VORN_SDMMC_FLASH(name);
    VORN_CHECK(m_flash, "m_flash");
    return m_flash;
}

VORN_ACTION* VORN_SDMMC_MGR::create_action(VORN_ACT_TYPE) {
    VORN_FAIL("Unsupported function: create_action");
}

VORN_OPERATION* VORN_SDMMC_MGR::create_operation(VORN_OP_TYPE) {
    VORN_FAIL("Unsupported function: create_operation");
}

std::vector<VORN_OPERATION*>* VORN_SDMMC_MGR::get_prog_flow_template_operation_list(
    VORN_PROG_FLOW_TEMPLATE, VORN_PROG_FLOW_TYPE) {
    return nullptr;
}

std::vector<VORN_OPERATION*>* VORN_SDMMC_MGR::get_user_template_operation_list(
    std::string&, VORN_PROG_FLOW_TYPE) {
    return nullptr;
}

bool VORN_SDMMC_MGR::get_operation_editable_permission(VORN_FLASH*) { return false; }

bool VORN_SDMMC_MGR::update_template_db(VORN_FLASH*, std::string) { return true; }

bool VORN_SDMMC_MGR::delete_template(std::string) { return true; }

// ---- writing ------------------------------------------------------------------------------

PGM_COMMON_XML_ELEMENT* VORN_SDMMC_MGR::create_xml_object_with_flash_list(
    std::vector<VORN_FLASH*> flash_list) {
    VORN_CHECK(flash_list.size() > 0, "flash_list.size() > 0");
    std::unique_ptr<PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH> root(
        new PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH());
    root->write_attribute_value("version", 1);
    for (VORN_FLASH* flash : flash_list) {
        std::unique_ptr<PGM_COMMON_XML_VORN_SDMMC_FLASH> element(
            new PGM_COMMON_XML_VORN_SDMMC_FLASH());
        element->add_child(create_xml_device_info(flash));
        root->add_child(element.release());
    }
    return root.release();
}

PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO* VORN_SDMMC_MGR::create_xml_device_info(VORN_FLASH* flash) {
    VORN_CHECK(flash, "flash");
    std::unique_ptr<PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO> info(
        new PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO());
    const VORN_DEVICE_VALUES values = vorn_device_values_of(*flash);
    std::string err_msg;
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS)
        if (field.sdmmc && field.label != nullptr)
            VORN_CHECK(vorn_device_field_is_valid(*this, field, values, &err_msg),
                       field.write_check);
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
        if (!field.sdmmc) continue;
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> leaf(pgm_common_xml_vorn_sdmmc_create(field.tag));
        VORN_CHECK(leaf, "leaf");
        leaf->write_string(values.*field.text);
        info->add_child(leaf.release());
    }
    return info.release();
}

void VORN_SDMMC_MGR::create_user_template_with_template_list(PGM_COMMON_XML_ELEMENT*&,
                                                             std::vector<std::string>) {}
