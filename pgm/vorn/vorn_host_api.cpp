// The host API: drafts, lookups by the bytes read, checked saves and deletes.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_host_api"

#include "vorn_host_api.h"

#include <cstring>
#include <memory>

#include "vorn_helper.h"
#include "vorn_flow_fit.h"
#include "vorn_internal.h"
#include "database/vorn_byte_list.h"
#include "vorn_qspi_flash.h"
#include "vorn_qspi_mgr.h"
#include "vorn_qspi_operation.h"
#include "database/vorn_device_fields.h"
#include "qspi/vorn_qspi_reader.h"
#include "vorn_sdmmc_flash.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

bool is_stored(const VORN_MGR& mgr, const VORN_FLASH* record) {
    auto it = mgr.get_flash_map().find(record->get_name());
    return it != mgr.get_flash_map().end() && it->second == record;
}

// The ID's bytes, or none when it has no readable ID.
std::vector<unsigned char> id_bytes(const VORN_FLASH& record) {
    return vorn_byte_list_bytes(record.get_parameter_value(VORN_FLASH_PARAM_ID));
}

// `dir` as the described calls compare it: absolute, normalised, ending with "/".
std::string normalised_dir(std::string dir) {
    if (dir.back() != '/') dir += '/';
    return FIO_PATH(dir).full_directory();
}

// The custom or the Zentro directory that `db_dir` names, or empty with the reason.
std::string database_dir(const std::string& db_dir, std::vector<std::string>& problems) {
    if (db_dir.empty()) {
        problems.push_back("No database directory was given.");
        return std::string();
    }
    const std::string dir = normalised_dir(db_dir);
    const std::string custom = normalised_dir(VORN_MGR::get_db_custom_dir());
    const std::string zentro = normalised_dir(VORN_MGR::get_db_zentro_dir());
    if (dir != custom && dir != zentro) {
        problems.push_back("Directory '" + db_dir + "' is neither the custom directory (" + custom +
                           ") nor the Zentro directory (" + zentro + ").");
        return std::string();
    }
    if (!FIO_FILE_SYSTEM::is_directory(dir)) {
        problems.push_back("Directory '" + dir + "' does not exist.");
        return std::string();
    }
    return dir;
}

// The described validators over every value the writer needs valid.
void validate_values(VORN_MGR& mgr, const VORN_FLASH& draft, std::vector<std::string>& problems) {
    std::string why;
    auto check = [&](bool valid) {
        if (!valid) problems.push_back(why);
    };
    const VORN_DEVICE_VALUES values = vorn_device_values_of(draft);
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS)
        if (field.label != nullptr && vorn_device_field_in(field, draft.get_family()))
            check(vorn_device_field_is_valid(mgr, field, values, &why));
    auto* qspi_mgr = dynamic_cast<VORN_QSPI_MGR*>(&mgr);
    if (qspi_mgr == nullptr) return;
    check(qspi_mgr->prog_flow_template_is_valid(
        draft.get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE), &why));
    const std::string template_name = draft.get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME);
    if (!template_name.empty()) check(qspi_mgr->template_name_is_valid(template_name, &why));
    for (VORN_PROG_FLOW_TYPE flow : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        for (const VORN_OPERATION* op : *draft.get_operation_list(flow)) {
            for (const VORN_ACTION* action : *op->get_action_list())
                for (VORN_ACT_PROPERTY property : action->get_property_enum_list())
                    check(action->property_value_is_valid(
                        property, action->get_property_value(property), &why));
        }
    }
    if (!VORN_HOST_ACCESS::flash_fits_file(mgr, const_cast<VORN_FLASH*>(&draft)))
        problems.push_back("A number in the flows of '" + draft.get_name() +
                           "' does not fit in 32 bits.");
}

void validate_name(VORN_MGR& mgr, const VORN_FLASH& draft, const std::string& dir,
                   std::vector<std::string>& problems) {
    const std::string name = draft.get_name();
    auto stored = mgr.get_flash_map().find(name);
    std::string why;
    if (stored == mgr.get_flash_map().end()) {
        if (!mgr.device_name_is_valid(name, &why)) {
            problems.push_back(why);
            return;
        }
    } else if (!stored->second->get_flash_removable_permission()) {
        problems.push_back("Device '" + name + "' is built in; it cannot be replaced.");
        return;
    }
    // The save writes a hidden temporary ".<file>.XXXXXX" beside the file first.
    const std::string file = PGM_COMMON::flash_file_name(name);
    const size_t name_max = FIO_FILE_SYSTEM::max_name_length(dir);
    if (file.size() + 8 > name_max)
        problems.push_back("Device name '" + name + "' is too long for a file name of " + dir +
                           ": its file and temporary need " + std::to_string(file.size() + 8) +
                           " bytes, the file system holds " + std::to_string(name_max) + ".");
    else if (dir.size() + file.size() + 8 >= FIO_FILE_SYSTEM::max_path_length(dir))
        problems.push_back("The path of device '" + name + "' in " + dir +
                           " is longer than the file system allows.");
}

std::string failure_reason(const VORN_MGR& mgr, const std::string& what, const std::string& dir) {
    const std::string& error = VORN_HOST_ACCESS::save_error(mgr);
    return what + " in " + dir + " failed" + (error.empty() ? "." : ": " + error + ".");
}

}  // namespace

VORN_MGR* vorn_open_flash_manager(DEV_FAMILY_ENUM family, bool renew, std::string* why) {
    try {
        VORN_MGR* mgr = VORN_HELPER::get_flash_manager(family, renew);
        if (mgr == nullptr && why != nullptr) *why = "No manager serves that device family.";
        return mgr;
    } catch (const VORN_INTERNAL_ERROR& error) {
        if (why != nullptr)
            *why = "The database of programmer directory " +
                   PGM_COMMON::pgm_get_common_programmer() + " cannot be loaded: " + error.what() +
                   " (" + error.file() + ":" + std::to_string(error.line()) + ")";
        return nullptr;
    }
}

VORN_FLASH* vorn_make_draft(const VORN_FLASH* record) {
    if (record == nullptr) return nullptr;
    // Copied through the record's own answers, so that a host's record class is copied as it
    // reads, into the library's class of its family.
    std::unique_ptr<VORN_FLASH> draft;
    const DEV_FAMILY_ENUM family = record->get_family();
    if (family == DEV_FAMILY_QSPI_FLASH) {
        auto copy = std::make_unique<VORN_QSPI_FLASH>(record->get_name());
        for (VORN_FLASH_PARAM param :
             {VORN_FLASH_PARAM_ID, VORN_FLASH_PARAM_IO_VOLTAGE, VORN_FLASH_PARAM_TEMPLATE_NAME,
              VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE})
            copy->set_parameter_value(param, record->get_parameter_value(param));
        for (VORN_FLASH_PARAM param : {VORN_FLASH_PARAM_TOTAL_DIE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE,
                                       VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4})
            copy->set_parameter_value(param, record->get_parameter_value_in_dword(param, nullptr));
        for (VORN_PROG_FLOW_TYPE flow : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
            std::vector<VORN_OPERATION*> operations;
            if (!vorn_copy_flow(*record->get_operation_list(flow), operations)) return nullptr;
            copy->set_operation_list(operations, flow);
        }
        draft = std::move(copy);
    } else if (family == DEV_FAMILY_SDMMC_FLASH) {
        draft = std::make_unique<VORN_SDMMC_FLASH>(record->get_name());
        draft->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE,
                                   record->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE));
    } else {
        return nullptr;
    }
    draft->set_density(record->get_density());
    draft->set_db_dir(record->get_db_dir());
    draft->set_flash_removable_permission(record->get_flash_removable_permission());
    return draft.release();
}

bool vorn_discard_draft(VORN_MGR* mgr, VORN_FLASH* draft) {
    if (draft == nullptr) return true;
    if (mgr != nullptr) {
        if (is_stored(*mgr, draft)) return false;
        VORN_HOST_ACCESS::forget(*mgr, draft);
    }
    delete draft;
    return true;
}

std::vector<const VORN_FLASH*> vorn_find_flash_by_id(const VORN_MGR* mgr,
                                                     const unsigned char* bytes, size_t count,
                                                     bool active_family_only) {
    std::vector<const VORN_FLASH*> found;
    if (mgr == nullptr || bytes == nullptr || count == 0) return found;
    std::string voltage;
    const bool filter = active_family_only && VORN_HOST_ACCESS::family_filter(*mgr, &voltage);
    // The whole ID text is read: bytes past the fourth count here.
    for (const auto& entry : mgr->get_flash_map()) {
        const VORN_FLASH* record = entry.second;
        if (record == nullptr) continue;
        const std::vector<unsigned char> id = id_bytes(*record);
        if (id.empty() || id.size() > count || std::memcmp(id.data(), bytes, id.size()) != 0)
            continue;
        if (filter && record->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE) != voltage) continue;
        found.push_back(record);
    }
    return found;
}

VORN_HOST_RESULT vorn_save_flash(VORN_MGR* mgr, const VORN_FLASH* draft,
                                 const std::string& db_dir) {
    VORN_HOST_RESULT result;
    if (mgr == nullptr || draft == nullptr) {
        result.problems.push_back("No manager or no record was given.");
        return result;
    }
    if (is_stored(*mgr, draft)) {
        result.problems.push_back("Device '" + draft->get_name() +
                                  "' is the stored record itself; save a draft of it "
                                  "(vorn_make_draft).");
        return result;
    }
    if (draft->get_family() != mgr->get_flash_family()) {
        result.problems.push_back("Device '" + draft->get_name() +
                                  "' is not of the manager's flash family.");
        return result;
    }
    const std::string dir = database_dir(db_dir, result.problems);
    if (dir.empty()) return result;
    validate_name(*mgr, *draft, dir, result.problems);
    validate_values(*mgr, *draft, result.problems);
    if (!result.problems.empty()) return result;

    VORN_FLASH* copy = vorn_make_draft(draft);
    if (copy == nullptr) {
        result.problems.push_back("Device '" + draft->get_name() +
                                  "' is of a class this library cannot copy.");
        return result;
    }
    const std::string name = draft->get_name();
    if (!mgr->update_db(copy, dir)) {  // takes the copy either way
        result.problems.push_back(failure_reason(*mgr, "Saving device '" + name + "'", dir));
        return result;
    }
    result.ok = true;
    result.file = mgr->get_flash_db_active_dir_map().at(name);
    return result;
}

VORN_HOST_RESULT vorn_delete_flash(VORN_MGR* mgr, const std::string& name,
                                   const std::string& db_dir) {
    VORN_HOST_RESULT result;
    if (mgr == nullptr || name.empty()) {
        result.problems.push_back("No manager or no name was given.");
        return result;
    }
    const std::string dir = database_dir(db_dir, result.problems);
    if (dir.empty()) return result;
    std::string file;
    auto stored = mgr->get_flash_map().find(name);
    if (stored != mgr->get_flash_map().end()) {
        auto active = mgr->get_flash_db_active_dir_map().find(name);
        if (!stored->second->get_flash_removable_permission() ||
            active == mgr->get_flash_db_active_dir_map().end()) {
            result.problems.push_back("Device '" + name + "' is built in; it cannot be deleted.");
            return result;
        }
        file = active->second;
    } else if (mgr->get_user_flash_template_map().count(name) != 0 &&
               mgr->get_template_db_dir_map().count(name) != 0) {
        file = mgr->get_template_db_dir_map().at(name);
    } else {
        result.problems.push_back("No user device or template is named '" + name + "'.");
        return result;
    }
    if (FIO_PATH(file).full_directory() != dir) {
        result.problems.push_back("Device '" + name + "' is stored in " + file + ", not in " + dir +
                                  ".");
        return result;
    }
    if (!FIO_FILE_SYSTEM::exists(file)) {
        result.problems.push_back("The file of '" + name + "', " + file +
                                  ", is gone; renew the managers to see what is on disk.");
        return result;
    }
    if (!mgr->delete_db(name, dir)) {
        result.problems.push_back(failure_reason(*mgr, "Deleting '" + name + "'", dir));
        return result;
    }
    result.ok = true;
    result.file = file;
    return result;
}

std::string vorn_last_save_error(const VORN_MGR* mgr) {
    return mgr != nullptr ? VORN_HOST_ACCESS::save_error(*mgr) : std::string();
}
