// The QSPI database manager: loading, operation lists from XML, templates and permissions.
// Its value checks are in vorn_qspi_validators.cpp, its choice lists in vorn_qspi_lists.cpp,
// its writing in vorn_qspi_mgr_writer.cpp.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_mgr"

#include "vorn_qspi_mgr.h"

#include <functional>
#include <memory>
#include <set>
#include <utility>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "vorn_action_properties.h"
#include "vorn_flow_fit.h"
#include "vorn_internal.h"
#include "database/vorn_db_files.h"
#include "vorn_msgs.h"
#include "vorn_qspi_action.h"
#include "vorn_qspi_flash.h"
#include "vorn_qspi_operation.h"
#include "vorn_qspi_reader.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

constexpr auto INITIAL_DEVICE_FAMILY =
    static_cast<DEV_FAMILY_ENUM>(VORN_QSPI_INITIAL_DEVICE_FAMILY);

// The SFL and SDM elements of the one PROGRAMMING_FLOW of `owner` (a device or a template).
// `one_flow` is the condition reported when `owner` has not exactly one flow.
struct FLOW_ELEMENTS {
    PGM_COMMON_XML_ELEMENT* sfl;
    PGM_COMMON_XML_ELEMENT* sdm;
};

FLOW_ELEMENTS flow_elements(PGM_COMMON_XML_ELEMENT* owner, const char* one_flow) {
    VORN_CHECK(owner->get_child_count(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW, true) == 1, one_flow);
    const std::vector<PGM_COMMON_XML_ELEMENT*> prog_flow_list =
        owner->get_childs(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW, true);
    VORN_CHECK(prog_flow_list.size() == 1, "prog_flow_list.size() == 1");
    VORN_CHECK(prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SFL, true) == 1,
               "prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SFL) == 1");
    const std::vector<PGM_COMMON_XML_ELEMENT*> sfl_list =
        prog_flow_list.at(0)->get_childs(PGM_COMMON_XML_ENUM_SFL, true);
    VORN_CHECK(sfl_list.size() == 1, "sfl_list.size() == 1");
    VORN_CHECK(prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SDM, true) == 1,
               "prog_flow_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_SDM) == 1");
    const std::vector<PGM_COMMON_XML_ELEMENT*> sdm_list =
        prog_flow_list.at(0)->get_childs(PGM_COMMON_XML_ENUM_SDM, true);
    VORN_CHECK(sdm_list.size() == 1, "sdm_list.size() == 1");
    return {sfl_list.at(0), sdm_list.at(0)};
}

void delete_operations(std::vector<VORN_OPERATION*>& list) {
    while (!list.empty()) {
        delete list.back();
        list.pop_back();
    }
}

// Owns the operations read into a list until the list is handed over.
class OPERATION_LIST_GUARD {
  public:
    explicit OPERATION_LIST_GUARD(std::vector<VORN_OPERATION*>& list) : m_list(&list) {}
    ~OPERATION_LIST_GUARD() {
        if (m_list != nullptr) delete_operations(*m_list);
    }
    OPERATION_LIST_GUARD(const OPERATION_LIST_GUARD&) = delete;
    OPERATION_LIST_GUARD& operator=(const OPERATION_LIST_GUARD&) = delete;
    void release() { m_list = nullptr; }

  private:
    std::vector<VORN_OPERATION*>* m_list;
};

struct USER_TEMPLATE_DELETER {
    void operator()(VORN_USER_FLASH_TEMPLATE* tpl) const {
        delete_operations(tpl->sdm_operation_list);
        delete_operations(tpl->sfl_operation_list);
        delete tpl;
    }
};
using USER_TEMPLATE_PTR = std::unique_ptr<VORN_USER_FLASH_TEMPLATE, USER_TEMPLATE_DELETER>;

// Deep copies of `from`, appended to `to`.
void copy_operations(const std::vector<VORN_OPERATION*>& from, std::vector<VORN_OPERATION*>& to) {
    VORN_CHECK(vorn_copy_flow(from, to), "qspi_op");
}

// The vendor templates in the golden template's order, with the key their lists and checks
// are named by.
struct VENDOR {
    PGM_COMMON_XML_ENUM tag;
    VORN_PROG_FLOW_TEMPLATE index;
    const char* key;
};
constexpr VENDOR VENDORS[] = {
    {PGM_COMMON_XML_ENUM_MICRON, VORN_PROG_FLOW_TEMPLATE_MICRON, "micron"},
    {PGM_COMMON_XML_ENUM_MACRONIX, VORN_PROG_FLOW_TEMPLATE_MACRONIX, "macronix"},
    {PGM_COMMON_XML_ENUM_CYPRESS, VORN_PROG_FLOW_TEMPLATE_CYPRESS, "cypress"},
    {PGM_COMMON_XML_ENUM_WINBOND, VORN_PROG_FLOW_TEMPLATE_WINBOND, "winbond"},
    {PGM_COMMON_XML_ENUM_ISSI, VORN_PROG_FLOW_TEMPLATE_ISSI, "issi"},
};

// One device element of `xml_file` as a record, its values judged as a load judges them (the
// warnings posted); null when the element is refused. `taken` tells a name the directory has.
std::unique_ptr<VORN_QSPI_FLASH> read_flash(VORN_QSPI_MGR& mgr,
                                            PGM_COMMON_XML_ELEMENT* flash_element,
                                            const std::string& xml_file,
                                            const std::string& directory, bool removable,
                                            const std::function<bool(const std::string&)>& taken) {
    VORN_CHECK(flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO, true) == 1,
               "flash_element->get_child_count(PGM_COMMON_XML_ENUM_DEVICE_INFO) == 1");
    const std::vector<PGM_COMMON_XML_ELEMENT*> device_info_list =
        flash_element->get_childs(PGM_COMMON_XML_ENUM_DEVICE_INFO, true);
    VORN_CHECK(device_info_list.size() == 1, "device_info_list.size() == 1");

    VORN_DEVICE_VALUES values;
    if (!vorn_read_device_info(
            static_cast<const PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO*>(device_info_list.at(0)),
            values)) {
        msg_vdebug_impl(2, "Device information incomplete in %s", xml_file.c_str());
        return nullptr;
    }

    if (!vorn_device_values_are_valid(mgr, values)) return nullptr;

    std::unique_ptr<VORN_QSPI_FLASH> flash = vorn_record_of(values);
    flash->set_db_dir(directory);
    flash->set_flash_removable_permission(removable);

    std::vector<VORN_OPERATION*> sfl;
    std::vector<VORN_OPERATION*> sdm;
    OPERATION_LIST_GUARD sfl_guard(sfl);
    OPERATION_LIST_GUARD sdm_guard(sdm);
    if (!mgr.update_overall_operation_list(flash_element, sfl, sdm)) return nullptr;
    flash->set_operation_list(sfl, VORN_PROG_FLOW_TYPE_SFL);
    sfl_guard.release();
    flash->set_operation_list(sdm, VORN_PROG_FLOW_TYPE_SDM);
    sdm_guard.release();

    if (taken(values.name)) {
        vorn_post_message(MSG_VORN::E::FOUND_DUPLICATED_FLASH_IN_DB(values.name, directory));
        return nullptr;
    }
    return flash;
}

// Files a record read from `xml_file` under its name in the directory's map, the active map
// and the device map, where it replaces the record of another directory.
void file_flash(std::unique_ptr<VORN_QSPI_FLASH> flash, const std::string& xml_file,
                std::map<std::string, std::string>& dir_map,
                std::map<std::string, std::string>& active_dir_map,
                std::map<std::string, VORN_FLASH*>& flash_map, VORN_FLASH*& current) {
    const std::string name = flash->get_name();
    dir_map[name] = xml_file;
    active_dir_map[name] = xml_file;
    auto existing = flash_map.find(name);
    if (existing != flash_map.end()) {
        if (existing->second == current) current = nullptr;
        delete existing->second;
        existing->second = flash.release();
    } else {
        flash_map.emplace(name, flash.get());
        flash.release();
    }
}

// Takes a user file's devices as they are read, each judged at once, so that a file's memory
// is bounded by one device's elements; its user templates wait for the devices, as they would
// in a file read whole. What it took counts only once the whole file is read and accepted.
class USER_FILE_READER : public PGM_COMMON_XML_CHILD_SINK {
  public:
    USER_FILE_READER(VORN_QSPI_MGR& mgr, const std::string& xml_file,
                     const std::map<std::string, std::string>& dir_map)
        : m_mgr(mgr),
          m_xml_file(xml_file),
          m_directory(FIO_PATH(xml_file).full_directory()),
          m_dir_map(dir_map) {}

    bool take_child(PGM_COMMON_XML_ELEMENT* child) override {
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> owned(child);
        if (child->get_class_type() == PGM_COMMON_XML_ENUM_USER_TEMPLATE) {
            templates.add_child(child);
            owned.release();
            return true;
        }
        if (child->get_class_type() != PGM_COMMON_XML_ENUM_FLASH) return true;
        std::unique_ptr<VORN_QSPI_FLASH> flash = read_flash(
            m_mgr, child, m_xml_file, m_directory, true, [this](const std::string& name) {
                return m_dir_map.count(name) != 0 || m_names.count(name) != 0;
            });
        if (flash == nullptr) {
            refused = true;
            return false;
        }
        m_names.insert(flash->get_name());
        flashes.push_back(std::move(flash));
        return true;
    }

    std::vector<std::unique_ptr<VORN_QSPI_FLASH>> flashes;
    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH templates;  // the file's user templates
    bool refused = false;  // a device was refused: the rest of the file is not taken

  private:
    VORN_QSPI_MGR& m_mgr;
    std::string m_xml_file;
    std::string m_directory;
    const std::map<std::string, std::string>& m_dir_map;
    std::set<std::string> m_names;
};

// Takes the golden template's elements as they are read: its vendor templates, then each
// device at once (one read before them waits for them). After a device is refused the rest are
// not taken; the counts and the verdict are the caller's to judge.
class GOLDEN_READER : public PGM_COMMON_XML_CHILD_SINK {
  public:
    using TAKE = std::function<bool(std::unique_ptr<PGM_COMMON_XML_ELEMENT>, bool)>;
    explicit GOLDEN_READER(TAKE take) : m_take(std::move(take)) {}

    bool take_child(PGM_COMMON_XML_ELEMENT* child) override {
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> owned(child);
        if (child->get_class_type() == PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) {
            // A second one is only counted: the file is refused for it.
            if (++m_golden_templates > 1) return true;
            m_status = m_take(std::move(owned), true) && m_status;
            std::vector<std::unique_ptr<PGM_COMMON_XML_ELEMENT>> waiting;
            waiting.swap(m_waiting);
            for (std::unique_ptr<PGM_COMMON_XML_ELEMENT>& device : waiting)
                if (!take_device(std::move(device))) return false;
            return true;
        }
        if (child->get_class_type() != PGM_COMMON_XML_ENUM_FLASH) return true;
        if (m_golden_templates == 0) {
            m_waiting.push_back(std::move(owned));
            return true;
        }
        return take_device(std::move(owned));
    }
    int golden_templates() const { return m_golden_templates; }
    bool status() const { return m_status; }

  private:
    bool take_device(std::unique_ptr<PGM_COMMON_XML_ELEMENT> device) {
        if (m_take(std::move(device), false)) return true;
        m_status = false;
        return false;
    }

    TAKE m_take;
    int m_golden_templates = 0;
    bool m_status = true;
    std::vector<std::unique_ptr<PGM_COMMON_XML_ELEMENT>> m_waiting;
};

}  // namespace

// ---- construction and teardown ---------------------------------------------------------

VORN_QSPI_MGR::VORN_QSPI_MGR() {
    m_active_device_family = INITIAL_DEVICE_FAMILY;
    m_active_config_mode = PGMIO_CONFIG_SCHEME_AS_X4;
    m_use_sdm_mode = false;
    m_flash = nullptr;

    for (VENDOR_FLOWS& flows : m_vendor_flows) {
        flows.sfl.reserve(VORN_OP_TYPE_COUNT);
        flows.sdm.reserve(VORN_OP_TYPE_COUNT);
    }
    m_zentro_dir_map.clear();
    m_custom_dir_map.clear();
    m_flash_db_active_dir_map.clear();
    m_flash_map.clear();
    VORN_HOST_ACCESS::flash_map_changed(*this);
    m_dev_info_map.clear();
    m_legacy_flash_map.clear();

    // The destructor does not run for a constructor that throws: release what was loaded.
    try {
        initialize_dev_info();
        initialize_flash_info();
        if (!parse_golden_template_xml()) VORN_FAIL("Failed to parse golden template XML.");
        parse_user_xml_in_zentro_dir();
        if (!PGM_COMMON::compare_string(get_db_zentro_dir(), get_db_custom_dir(), false))
            parse_user_xml_in_custom_dir();
    } catch (...) {
        clear_template_operation_list();
        clear_flash_mapping_info();
        throw;
    }
}

VORN_QSPI_MGR::~VORN_QSPI_MGR() {
    // Guarded: a database record that shares a legacy name belongs to the map, not to m_flash.
    release_legacy_flash();
    clear_template_operation_list();
    clear_flash_mapping_info();
}

VORN_MGR* VORN_QSPI_MGR::get_new_instance() { return new VORN_QSPI_MGR(); }

DEV_FAMILY_ENUM VORN_QSPI_MGR::get_flash_family() { return DEV_FAMILY_QSPI_FLASH; }

VORN_FLASH* VORN_QSPI_MGR::create_flash(std::string name) {
    release_legacy_flash();
    m_flash = new VORN_QSPI_FLASH(name);
    VORN_CHECK(m_flash, "m_flash");
    return m_flash;
}

VORN_ACTION* VORN_QSPI_MGR::create_action(VORN_ACT_TYPE type) { return new VORN_QSPI_ACTION(type); }

VORN_OPERATION* VORN_QSPI_MGR::create_operation(VORN_OP_TYPE type) {
    return new VORN_QSPI_OPERATION(type);
}

void VORN_QSPI_MGR::initialize_flash_info() {
    PGMDEV_FLASH_MANAGER flash_mgr(true, 1, false, false);
    for (const PGMDEV_SFL_FLASH_INFO& record : flash_mgr.get_flash_info_list()) {
        if (record.enabled && !record.name.empty() && !record.io_voltage.empty())
            m_legacy_flash_map[record.name] = record.io_voltage;
    }
}

void VORN_QSPI_MGR::clear_template_operation_list() {
    for (VENDOR_FLOWS& flows : m_vendor_flows) {
        delete_operations(flows.sfl);
        delete_operations(flows.sdm);
    }
    for (auto& entry : m_user_flash_template_map) {
        USER_TEMPLATE_DELETER()(entry.second);
        entry.second = nullptr;
    }
    m_user_flash_template_map.clear();
}

void VORN_QSPI_MGR::clear_flash_mapping_info() {
    VORN_MGR::clear_flash_mapping_info();
    m_legacy_flash_map.clear();
}

// ---- files -------------------------------------------------------------------------------

const char* VORN_QSPI_MGR::xsd_file_name() const { return "vorn_qspi.xsd"; }

const char* VORN_QSPI_MGR::golden_template_file_name() const {
    return VORN_QSPI_GOLDEN_TEMPLATE_FILE;
}

bool VORN_QSPI_MGR::parse_xml_file(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH** object,
                                   std::string xml_file, bool is_golden_template,
                                   std::string& err_msg) {
    return vorn_parse_xml_file(PGM_COMMON_XML_FILE_VORN_QSPI, object, xml_file, get_xsd_file(),
                               is_golden_template, err_msg);
}

bool VORN_QSPI_MGR::parse_golden_template_xml() {
    check_vendor_flows(true);
    const std::string xml_file = get_golden_template_file();
    VORN_CHECK(!xml_file.empty(), "!xml_file.empty()");

    // Each element is read as it is complete, under a root of its own, so that the file's
    // memory is bounded by one device's elements.
    auto take = [&](std::unique_ptr<PGM_COMMON_XML_ELEMENT> child, bool golden_template) {
        PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH holder;
        holder.add_child(child.get());
        child.release();
        return golden_template ? create_flash_info_with_golden_template(&holder, xml_file)
                               : update_flash_list(&holder, xml_file, m_zentro_dir_map, false);
    };
    GOLDEN_READER reader(take);
    std::string err_msg;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root = vorn_read_db_file(
        PGM_COMMON_XML_FILE_VORN_QSPI, xml_file, get_xsd_file(), true, err_msg, &reader);
    if (root == nullptr) {
        if (!FIO_FILE_SYSTEM::exists(xml_file)) VORN_FAIL(err_msg);
        msg_vdebug_impl(2, "Golden template %s cannot be read: %s", xml_file.c_str(),
                        err_msg.c_str());
        VORN_CHECK(root != nullptr, "*object != 0");
    }
    VORN_CHECK(reader.golden_templates() == 1,
               "object->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) == 1");
    VORN_CHECK(reader.status(), "status");
    check_vendor_flows(false);
    return true;
}

void VORN_QSPI_MGR::check_vendor_flows(bool empty) {
    for (const VENDOR& vendor : VENDORS) {
        const VENDOR_FLOWS& flows = m_vendor_flows[vendor.index];
        const std::pair<const char*, const std::vector<VORN_OPERATION*>*> lists[] = {
            {"sfl", &flows.sfl}, {"sdm", &flows.sdm}};
        for (const auto& list : lists) {
            if (list.second->empty() == empty) continue;
            VORN_FAIL(TARVEN::fmt_sprintf("m_%s_%s_operation_list.size() %s", list.first,
                                          vendor.key, empty ? "== 0" : "> 0"));
        }
    }
}

bool VORN_QSPI_MGR::create_flash_info_with_golden_template(
    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH* object, std::string xml_file) {
    VORN_CHECK(object, "object");
    VORN_CHECK(!xml_file.empty(), "!xml_file.empty()");
    VORN_CHECK(object->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE, true) == 1,
               "object->get_child_count(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE) == 1");
    const std::vector<PGM_COMMON_XML_ELEMENT*> template_list =
        object->get_childs(PGM_COMMON_XML_ENUM_GOLDEN_TEMPLATE, true);
    VORN_CHECK(template_list.size() == 1, "template_list.size() == 1");

    bool status = true;
    for (const VENDOR& vendor : VENDORS) {
        VORN_CHECK(
            template_list.at(0)->get_child_count(vendor.tag, true) == 1,
            TARVEN::fmt_sprintf("template_list.at(0)->get_child_count(PGM_COMMON_XML_ENUM_%s) == 1",
                                PGM_COMMON_XML_ENUM_STRING[vendor.tag]));
        const std::vector<PGM_COMMON_XML_ELEMENT*> vendor_list =
            template_list.at(0)->get_childs(vendor.tag, true);
        VORN_CHECK(vendor_list.size() == 1, TARVEN::fmt_sprintf("%s_list.size() == 1", vendor.key));
        VENDOR_FLOWS& flows = m_vendor_flows[vendor.index];
        status = update_overall_operation_list(vendor_list.at(0), flows.sfl, flows.sdm) && status;
    }
    status = update_flash_list(object, xml_file, m_zentro_dir_map, false) && status;
    return status;
}

bool VORN_QSPI_MGR::parse_user_xml_in_dir(const std::string& dir, const char* trace_format,
                                          const char* skipped_name,
                                          std::map<std::string, std::string>& dir_map) {
    auto load = [&](const std::string& xml_file, std::string& not_loaded) {
        USER_FILE_READER reader(*this, xml_file, dir_map);
        std::string err_msg;
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> root = vorn_read_db_file(
            PGM_COMMON_XML_FILE_VORN_QSPI, xml_file, get_xsd_file(), false, err_msg, &reader);
        if (root == nullptr) {
            not_loaded = err_msg;
            return vorn_skip_user_file(xml_file, err_msg);
        }
        for (std::unique_ptr<VORN_QSPI_FLASH>& flash : reader.flashes)
            file_flash(std::move(flash), xml_file, dir_map, m_flash_db_active_dir_map, m_flash_map,
                       m_flash);
        VORN_HOST_ACCESS::flash_map_changed(*this);
        // A device the file gets wrong drops the rest of it, its templates too.
        if (reader.refused) {
            not_loaded = "a device in it was refused; the rest of the file was not read";
            return false;
        }
        const bool templates = create_user_template_list(&reader.templates, xml_file);
        size_t templates_taken = 0;
        for (const auto& entry : m_template_db_dir_map) templates_taken += entry.second == xml_file;
        if (!templates || templates_taken < reader.templates.get_child_count(
                                                PGM_COMMON_XML_ENUM_USER_TEMPLATE, true))
            not_loaded = "a user template in it was refused";
        return templates;
    };
    return vorn_load_user_files(dir, trace_format, skipped_name, load, m_files_not_loaded,
                                m_load_report);
}

bool VORN_QSPI_MGR::update_flash_list(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH* object,
                                      std::string xml_file,
                                      std::map<std::string, std::string>& dir_map, bool removable) {
    VORN_CHECK(object, "object");
    VORN_CHECK(!xml_file.empty(), "!xml_file.empty()");
    if (object->get_child_count(PGM_COMMON_XML_ENUM_FLASH, true) == 0) return true;

    const std::string directory = FIO_PATH(xml_file).full_directory();
    for (PGM_COMMON_XML_ELEMENT* flash_element :
         object->get_childs(PGM_COMMON_XML_ENUM_FLASH, true)) {
        std::unique_ptr<VORN_QSPI_FLASH> flash =
            read_flash(*this, flash_element, xml_file, directory, removable,
                       [&dir_map](const std::string& name) { return dir_map.count(name) != 0; });
        if (flash == nullptr) return false;
        file_flash(std::move(flash), xml_file, dir_map, m_flash_db_active_dir_map, m_flash_map,
                   m_flash);
        VORN_HOST_ACCESS::flash_map_changed(*this);
    }
    return true;
}

bool VORN_QSPI_MGR::create_user_template_list(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH* object,
                                              std::string xml_file) {
    VORN_CHECK(object, "flash_object != NULL");
    VORN_CHECK(!xml_file.empty(), "!xml_file.empty()");
    if (object->get_child_count(PGM_COMMON_XML_ENUM_USER_TEMPLATE, true) == 0) return true;

    for (PGM_COMMON_XML_ELEMENT* user_template_element :
         object->get_childs(PGM_COMMON_XML_ENUM_USER_TEMPLATE, true)) {
        VORN_CHECK(
            user_template_element->get_child_count(PGM_COMMON_XML_ENUM_TEMPLATE_NAME, true) == 1,
            "user_template_element->get_child_count(PGM_COMMON_XML_ENUM_TEMPLATE_NAME) == 1");
        const FLOW_ELEMENTS flows = flow_elements(
            user_template_element,
            "user_template_element->get_child_count(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW) == 1");

        const auto* name_element = static_cast<const PGM_COMMON_XML_VORN_QSPI_TEMPLATE_NAME*>(
            user_template_element->get_childs(PGM_COMMON_XML_ENUM_TEMPLATE_NAME, true).at(0));
        const std::string name = name_element->value;

        USER_TEMPLATE_PTR user_flash_template(new VORN_USER_FLASH_TEMPLATE);
        const bool sfl_valid =
            update_operation_list(flows.sfl, user_flash_template->sfl_operation_list);
        VORN_CHECK(user_flash_template->sfl_operation_list.size() > 0,
                   "user_flash_template->sfl_operation_list.size() > 0");
        const bool sdm_valid =
            update_operation_list(flows.sdm, user_flash_template->sdm_operation_list);
        VORN_CHECK(user_flash_template->sdm_operation_list.size() > 0,
                   "user_flash_template->sdm_operation_list.size() > 0");
        if (!sfl_valid || !sdm_valid) continue;

        if (m_user_flash_template_map.find(name) != m_user_flash_template_map.end()) return false;
        m_user_flash_template_map.emplace(name, user_flash_template.get());
        user_flash_template.release();
        m_template_db_dir_map[name] = xml_file;
    }
    return true;
}

// ---- operation lists from XML --------------------------------------------------------------

bool VORN_QSPI_MGR::update_overall_operation_list(PGM_COMMON_XML_ELEMENT* xml,
                                                  std::vector<VORN_OPERATION*>& sfl,
                                                  std::vector<VORN_OPERATION*>& sdm) {
    VORN_CHECK(xml, "xml");
    VORN_CHECK(sfl.size() == 0, "sfl.size() == 0");
    VORN_CHECK(sdm.size() == 0, "sdm.size() == 0");
    const FLOW_ELEMENTS flows =
        flow_elements(xml, "xml->get_child_count(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW) == 1");

    const bool sfl_valid = update_operation_list(flows.sfl, sfl);
    VORN_CHECK(sfl.size() > 0, "sfl.size() > 0");
    const bool sdm_valid = update_operation_list(flows.sdm, sdm);
    VORN_CHECK(sdm.size() > 0, "sdm.size() > 0");
    return sfl_valid && sdm_valid;
}

bool VORN_QSPI_MGR::update_operation_list(PGM_COMMON_XML_ELEMENT* xml,
                                          std::vector<VORN_OPERATION*>& op_list) {
    VORN_CHECK(xml, "xml");
    VORN_CHECK(op_list.size() == 0, "op_list.size() == 0");

    // What an internal error reports of each operation element (VORN_OP_TYPE order).
    struct OPERATION_CONDITIONS {
        const char* count;
        const char* list;
    };
    static const OPERATION_CONDITIONS conditions[VORN_OP_TYPE_COUNT] = {
        {"xml->get_child_count(PGM_COMMON_XML_ENUM_INITIALIZATION) == 1", "init_list.size() == 1"},
        {"xml->get_child_count(PGM_COMMON_XML_ENUM_PROGRAM) == 1", "program_list.size() == 1"},
        {"xml->get_child_count(PGM_COMMON_XML_ENUM_ERASE) == 1", "erase_list.size() == 1"},
        {"xml->get_child_count(PGM_COMMON_XML_ENUM_VERIFY_BLANKCHECK_EXAMINE) == 1",
         "read_list.size() == 1"},
        {"xml->get_child_count(PGM_COMMON_XML_ENUM_TERMINATION) == 1",
         "termination_list.size() == 1"},
    };

    PGM_COMMON_XML_ELEMENT* elements[VORN_OP_TYPE_COUNT] = {};
    for (int t = 0; t < VORN_OP_TYPE_COUNT; ++t) {
        VORN_CHECK(xml->get_child_count(VORN_OP_TYPES[t].tag, true) == 1, conditions[t].count);
        const std::vector<PGM_COMMON_XML_ELEMENT*> list =
            xml->get_childs(VORN_OP_TYPES[t].tag, true);
        VORN_CHECK(list.size() == 1, conditions[t].list);
        elements[t] = list.at(0);
    }

    op_list.reserve(VORN_OP_TYPE_COUNT);
    bool valid = true;
    for (int t = 0; t < VORN_OP_TYPE_COUNT; ++t)
        valid = add_operation_into_list(VORN_OP_TYPES[t].type, elements[t], op_list) && valid;
    return valid;
}

bool VORN_QSPI_MGR::add_operation_into_list(VORN_OP_TYPE type, PGM_COMMON_XML_ELEMENT* xml,
                                            std::vector<VORN_OPERATION*>& op_list) {
    VORN_CHECK(xml, "xml");
    std::unique_ptr<VORN_OPERATION> op(create_operation(type));
    VORN_CHECK(op, "op");

    bool valid = true;
    if (xml->get_child_count(PGM_COMMON_XML_ENUM_ACTION, true) == 0) {
        op_list.push_back(op.get());
        op.release();
        return true;
    }
    const std::vector<PGM_COMMON_XML_ELEMENT*> action_list =
        xml->get_childs(PGM_COMMON_XML_ENUM_ACTION, true);
    VORN_CHECK(action_list.size() > 0, "action_list.size() > 0");

    std::vector<std::string> values;
    for (PGM_COMMON_XML_ELEMENT* element : action_list) {
        const auto* xml_action = static_cast<const PGM_COMMON_XML_VORN_QSPI_ACTION*>(element);
        VORN_ACT_TYPE act_type = VORN_ACT_TYPE_WRITE_REGISTER;
        if (!vorn_action_type_of_tag(xml_action->type, &act_type)) VORN_FAIL("Unknown action type");
        std::unique_ptr<VORN_ACTION> act(create_action(act_type));
        VORN_CHECK(act, "act");
        const int property_count = VORN_ACT_RUNS[act_type].count;
        if ((act->get_property_enum_list()).size() != static_cast<size_t>(property_count))
            VORN_FAIL(TARVEN::fmt_sprintf("(act->get_property_enum_list()).size() == %d",
                                          property_count));

        const std::vector<VORN_ACT_PROPERTY>& properties = act->get_property_enum_list();
        values.assign(properties.size(), std::string());
        for (size_t i = 0; i < properties.size(); ++i) {
            if (vorn_read_action_property(xml_action, properties[i], values[i]) == nullptr) {
                msg_vdebug_impl(2, "Action \"%s\" lacks a readable %s element",
                                act->get_name().c_str(),
                                PGM_COMMON_XML_ENUM_STRING[vorn_property_tag(properties[i])]);
                valid = false;
                continue;
            }
            if (!act->property_value_is_valid(properties[i], values[i], nullptr)) valid = false;
        }
        if (valid) {
            for (size_t i = 0; i < properties.size(); ++i)
                act->set_property_value(properties[i], std::move(values[i]));
        }
        op->add_action_into_list(act.get());
        act.release();
    }
    op_list.push_back(op.get());
    op.release();
    return valid;
}

std::vector<VORN_OPERATION*>* VORN_QSPI_MGR::get_prog_flow_template_operation_list(
    VORN_PROG_FLOW_TEMPLATE tpl, VORN_PROG_FLOW_TYPE type) {
    if (static_cast<int>(tpl) < 0 || static_cast<int>(tpl) >= VENDOR_COUNT)
        VORN_FAIL("Unknown programming flow template");
    VENDOR_FLOWS& flows = m_vendor_flows[tpl];
    return type == VORN_PROG_FLOW_TYPE_SDM ? &flows.sdm : &flows.sfl;
}

std::vector<VORN_OPERATION*>* VORN_QSPI_MGR::get_user_template_operation_list(
    std::string& name, VORN_PROG_FLOW_TYPE type) {
    auto it = m_user_flash_template_map.find(name);
    if (it == m_user_flash_template_map.end())
        VORN_FAIL(TARVEN::fmt_sprintf("Unknown user template %s", name));
    return type == VORN_PROG_FLOW_TYPE_SDM ? &it->second->sdm_operation_list
                                           : &it->second->sfl_operation_list;
}

// ---- permissions and templates -----------------------------------------------------------

bool VORN_QSPI_MGR::get_operation_editable_permission(VORN_FLASH* flash) {
    if (cfg_is_on("pgm_vorn_enable_operation_editable", false)) return true;
    if (m_use_sdm_mode) return false;
    if (flash == nullptr || flash->get_flash_removable_permission()) return true;
    return !device_exist_in_db(flash->get_name(), true);
}

void VORN_QSPI_MGR::keep_user_template(const std::string& name, VORN_FLASH* flash) {
    USER_TEMPLATE_PTR user_flash_template(new VORN_USER_FLASH_TEMPLATE);
    copy_operations(*flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM),
                    user_flash_template->sdm_operation_list);
    copy_operations(*flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                    user_flash_template->sfl_operation_list);

    auto it = m_user_flash_template_map.find(name);
    if (it != m_user_flash_template_map.end()) {
        USER_TEMPLATE_PTR replaced(it->second);
        it->second = user_flash_template.release();
    } else {
        m_user_flash_template_map.emplace(name, user_flash_template.get());
        user_flash_template.release();
    }
}

bool VORN_QSPI_MGR::delete_template(std::string name) {
    SAVE_CALL call(*this);
    auto it = m_template_db_dir_map.find(name);
    if (it == m_template_db_dir_map.end()) return false;
    return delete_db(name, FIO_PATH(it->second).full_directory());
}
