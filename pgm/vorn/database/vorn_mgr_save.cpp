// Saving and deleting: the save transaction every change of the database goes through, and
// update_db and delete_db on it.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_mgr"

#include <memory>

#include "vorn_internal.h"
#include "vorn_mgr.h"
#include "vorn_msgs.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// Runs `undo` however the scope is left: an internal error thrown half-way through an
// operation must leave the maps as they were.
template <typename F>
class SCOPE_UNDO {
  public:
    explicit SCOPE_UNDO(F undo) : m_undo(std::move(undo)) {}
    ~SCOPE_UNDO() { m_undo(); }
    SCOPE_UNDO(const SCOPE_UNDO&) = delete;
    SCOPE_UNDO& operator=(const SCOPE_UNDO&) = delete;

  private:
    F m_undo;
};

template <typename F>
SCOPE_UNDO<F> make_undo(F undo) {
    return SCOPE_UNDO<F>(std::move(undo));
}

// Whether a recorded file is `target` (absolute). The name test spares the path arithmetic
// for the thousands of entries that live elsewhere.
bool is_same_file(const std::string& recorded, const std::string& target,
                  const std::string& target_name) {
    if (vorn_base_name(recorded) != target_name) return false;
    return FIO_PATH(recorded).fullpath() == target;
}

// Picks the map of `db_dir`, which must be the Zentro or the custom directory (the Zentro
// map when both are the same).
std::map<std::string, std::string>* select_db_dir_map(
    const std::string& db_dir, std::map<std::string, std::string>& zentro_map,
    std::map<std::string, std::string>& custom_map, bool* is_zentro) {
    FIO_PATH zentro_dir(VORN_MGR::get_db_zentro_dir());
    FIO_PATH custom_dir(VORN_MGR::get_db_custom_dir());
    msg_vdebug_impl(2, "db_dir.c_str() = %s", db_dir.c_str());
    msg_vdebug_impl(2, "zentro_dir.full_directory().c_str() = %s",
                    zentro_dir.full_directory().c_str());
    msg_vdebug_impl(2, "custom_dir.full_directory().c_str() = %s",
                    custom_dir.full_directory().c_str());
    bool db_is_zentro_dir = gen_strcmp(db_dir, zentro_dir.full_directory()) == 0;
    bool db_is_custom_dir = gen_strcmp(db_dir, custom_dir.full_directory()) == 0;
    VORN_CHECK(db_is_zentro_dir || db_is_custom_dir, "db_is_zentro_dir || db_is_custom_dir");
    *is_zentro = db_is_zentro_dir;
    return db_is_zentro_dir ? &zentro_map : &custom_map;
}

void delete_user_template(VORN_USER_FLASH_TEMPLATE* tpl) {
    if (tpl == nullptr) return;
    for (auto it = tpl->sdm_operation_list.rbegin(); it != tpl->sdm_operation_list.rend(); ++it)
        delete *it;
    for (auto it = tpl->sfl_operation_list.rbegin(); it != tpl->sfl_operation_list.rend(); ++it)
        delete *it;
    delete tpl;
}

void post_failed_to_update_db(const std::string& db_dir) {
    std::unique_ptr<MSG_W> msg(MSG_VORN::W::FAILED_TO_UPDATE_DB(db_dir));
    msg->post();
}

}  // namespace

struct VORN_MGR::PENDING_SAVE {
    explicit PENDING_SAVE(const std::string& db_dir) : lock(db_dir, true), files(db_dir) {}
    ~PENDING_SAVE() {
        // Abandoned (a failure, or an internal error on its way out): the maps as they were.
        for (auto it = undo.rbegin(); it != undo.rend(); ++it) (*it)();
    }
    FIO_FOLDER_LOCK lock;
    FIO_FOLDER_CHANGE files;
    std::vector<std::function<void()>> undo;
    std::vector<std::function<void()>> done;
    std::vector<std::string> paths;  // written or removed
};

bool VORN_MGR::save_as_one(const std::string& db_dir, const std::function<bool()>& work) {
    if (m_pending_save != nullptr) return work();
    m_save_error.clear();
    PENDING_SAVE save(db_dir);
    m_pending_save = &save;
    struct CLEAR {
        PENDING_SAVE*& pending;
        ~CLEAR() { pending = nullptr; }
    } clear{m_pending_save};
    if (!work()) return false;
    if (!save.files.commit()) {
        msg_vdebug_impl(2, "Saving into %s failed: %s", db_dir.c_str(), save.files.error().c_str());
        m_save_error = save.files.error();
        m_last_save.refused.insert(m_last_save.refused.end(), save.paths.begin(), save.paths.end());
        post_failed_to_update_db(db_dir);
        return false;
    }
    save.undo.clear();
    for (const auto& finish : save.done) finish();
    return true;
}

bool VORN_MGR::refuse_file_not_loaded(const std::string& file, const std::string& db_dir) {
    auto it = m_files_not_loaded.find(file);
    if (it == m_files_not_loaded.end()) return false;
    msg_vdebug_impl(2, "%s did not load whole (%s): a save leaves it as it is", file.c_str(),
                    it->second.c_str());
    m_save_error = file + " did not load whole (" + it->second + "): a save leaves it as it is";
    m_last_save.refused.push_back(file);
    post_failed_to_update_db(db_dir);
    return true;
}

bool VORN_MGR::save_file(const std::string& path, const std::string& content) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->paths.push_back(path);
    if (m_pending_save->files.write(path, content)) return true;
    msg_vdebug_impl(2, "%s", m_pending_save->files.error().c_str());
    m_save_error = m_pending_save->files.error();
    m_last_save.refused.push_back(path);
    return false;
}

bool VORN_MGR::save_removal(const std::string& path) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->paths.push_back(path);
    if (m_pending_save->files.remove(path)) return true;
    msg_vdebug_impl(2, "%s", m_pending_save->files.error().c_str());
    m_save_error = m_pending_save->files.error();
    m_last_save.refused.push_back(path);
    return false;
}

bool VORN_MGR::save_exists(const std::string& path) const {
    return m_pending_save != nullptr ? m_pending_save->files.exists(path)
                                     : FIO_FILE_SYSTEM::exists(path);
}

void VORN_MGR::on_abandon(std::function<void()> undo) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->undo.push_back(std::move(undo));
}

void VORN_MGR::on_commit(std::function<void()> done) {
    VORN_CHECK(m_pending_save, "m_pending_save");
    m_pending_save->done.push_back(std::move(done));
}

namespace {

// A map entry as it was, to be put back.
template <typename MAP>
std::function<void()> restore_entry(MAP& map, const typename MAP::key_type& key) {
    auto it = map.find(key);
    if (it == map.end()) return [&map, key] { map.erase(key); };
    return [&map, key, value = it->second] { map[key] = value; };
}

}  // namespace

bool VORN_MGR::flash_fits_file(VORN_FLASH*) { return true; }

bool VORN_MGR::update_db(VORN_FLASH* flash, std::string db_dir) {
    VORN_CHECK(flash, "flash");
    SAVE_CALL call(*this);
    // Ownership is ours from here: a record that does not end up in the map is deleted, also
    // when an internal error cuts the save short.
    const std::string name = flash->get_name();
    auto release_unsaved = make_undo([this, flash, &name]() {
        auto iter = m_flash_map.find(name);
        if (iter != m_flash_map.end() && iter->second == flash) return;
        if (m_flash == flash) m_flash = nullptr;
        delete flash;
    });
    VORN_CHECK(!db_dir.empty(), "!db_dir.empty()");
    msg_vdebug_impl(2, "Entering VORN_MGR::update_db with flash device_name = %s", name.c_str());
    bool is_zentro = false;
    std::map<std::string, std::string>* db_dir_map =
        select_db_dir_map(db_dir, m_zentro_dir_map, m_custom_dir_map, &is_zentro);

    // The old copy goes and the new one comes in one save: a crash shows one or the other, and
    // a failure leaves the old one.
    bool deleted = true;
    bool result = save_as_one(db_dir, [&] {
        if (db_dir_map->count(name) != 0 && !delete_db(name, db_dir)) {
            deleted = false;
            return false;
        }
        return write_flash_xml_and_update_dir_map(flash, db_dir, db_dir_map);
    });
    if (!deleted) return false;
    if (!flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME).empty())
        result = update_template_db(flash, db_dir);
    return result;
}

bool VORN_MGR::write_flash_xml_and_update_dir_map(VORN_FLASH* flash, std::string db_dir,
                                                  std::map<std::string, std::string>* db_dir_map) {
    VORN_CHECK(flash, "flash");
    VORN_CHECK(db_dir_map, "db_dir_map");
    const std::string name = flash->get_name();
    const std::string file = db_dir + PGM_COMMON::flash_file_name(name);
    // A name that skipped validation must still never lead the file out of db_dir, and
    // numbers validation lets through must fit the file.
    if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos ||
        !flash_fits_file(flash)) {
        post_failed_to_update_db(db_dir);
        return false;
    }
    if (refuse_file_not_loaded(file, db_dir)) return false;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(create_xml_object_with_flash_list({flash}));

    return save_as_one(db_dir, [&] {
        // The old file is replaced in one step when the save is committed; the placeholder
        // and the removal of the old file are no longer separate steps on disk. Writing the
        // new content beside it is what tells whether they would have succeeded.
        if (!save_exists(file)) msg_vdebug_impl(2, "Touch new XML file, %s", file.c_str());
        msg_vdebug_impl(2, "Deleting old XML file %s", file.c_str());
        const std::string text = PGM_COMMON_XML::write_xml_string(tree.get());
        if (text.empty() || !save_file(file, text)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
        msg_vdebug_impl(2, "Writing new XML file, %s", file.c_str());

        msg_vdebug_impl(2, "Before: db_dir_map->size() = %d", static_cast<int>(db_dir_map->size()));
        msg_vdebug_impl(2, "Before: m_flash_db_active_dir_map.size() = %d",
                        static_cast<int>(m_flash_db_active_dir_map.size()));
        msg_vdebug_impl(2, "Before: m_flash_map.size() = %d", static_cast<int>(m_flash_map.size()));
        on_abandon(restore_entry(*db_dir_map, name));
        on_abandon(restore_entry(m_flash_db_active_dir_map, name));
        on_abandon(restore_entry(m_flash_map, name));
        on_abandon([this] { VORN_HOST_ACCESS::flash_map_changed(*this); });
        (*db_dir_map)[name] = file;
        m_flash_db_active_dir_map[name] = file;
        VORN_FLASH*& slot = m_flash_map[name];
        VORN_FLASH* const replaced = slot != flash ? slot : nullptr;
        if (replaced != nullptr) {
            // The record of another directory under the same name gives way to the saved one.
            const bool was_current = m_flash == replaced;
            if (was_current) m_flash = nullptr;
            on_abandon([this, replaced, was_current] {
                if (was_current) m_flash = replaced;
            });
            on_commit([replaced] { delete replaced; });
        }
        slot = flash;
        VORN_HOST_ACCESS::flash_map_changed(*this);
        on_abandon([flash, dir = flash->get_db_dir(),
                    removable = flash->get_flash_removable_permission()] {
            flash->set_db_dir(dir);
            flash->set_flash_removable_permission(removable);
        });
        flash->set_db_dir(FIO_PATH(file).full_directory());
        flash->set_flash_removable_permission(true);
        on_commit([this, file] { m_last_save.device_file = file; });
        msg_vdebug_impl(2, "After: db_dir_map->size() = %d", static_cast<int>(db_dir_map->size()));
        msg_vdebug_impl(2, "After: m_flash_db_active_dir_map.size() = %d",
                        static_cast<int>(m_flash_db_active_dir_map.size()));
        msg_vdebug_impl(2, "After: m_flash_map.size() = %d", static_cast<int>(m_flash_map.size()));
        return true;
    });
}

bool VORN_MGR::delete_db(std::string device_name, std::string db_dir) {
    VORN_CHECK(!device_name.empty(), "!device_name.empty()");
    VORN_CHECK(!db_dir.empty(), "!db_dir.empty()");
    SAVE_CALL call(*this);
    msg_vdebug_impl(2, "Entering VORN_MGR::delete_db with device_name = %s", device_name.c_str());
    bool is_zentro = false;
    std::map<std::string, std::string>* db_dir_map =
        select_db_dir_map(db_dir, m_zentro_dir_map, m_custom_dir_map, &is_zentro);

    std::string file_to_delete;
    if (!find_file_to_delete(device_name, db_dir, *db_dir_map, is_zentro, file_to_delete))
        return true;
    if (refuse_file_not_loaded(FIO_PATH(file_to_delete).fullpath(), db_dir)) return false;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree;
    if (!build_companion_document(device_name, file_to_delete, db_dir, *db_dir_map, tree))
        return false;
    const bool is_device = db_dir_map->count(device_name) != 0;

    return save_as_one(db_dir, [&] {
        if (!save_removal(file_to_delete)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
        on_commit([this, file_to_delete] { m_last_save.deleted_from = file_to_delete; });
        if (is_device)
            erase_deleted_flash(device_name, *db_dir_map);
        else
            erase_deleted_template(device_name);
        if (!tree) return true;
        msg_vdebug_impl(2, "Writing XML file, %s", file_to_delete.c_str());
        const std::string text = PGM_COMMON_XML::write_xml_string(tree.get());
        if (text.empty() || !save_file(file_to_delete, text)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
        return true;
    });
}

bool VORN_MGR::find_file_to_delete(const std::string& device_name, const std::string& db_dir,
                                   const std::map<std::string, std::string>& db_dir_map,
                                   bool is_zentro, std::string& file) {
    auto active = m_flash_db_active_dir_map.find(device_name);
    if (active != m_flash_db_active_dir_map.end()) {
        FIO_PATH active_dir_file(active->second);
        msg_vdebug_impl(2, "active_dir_file.fullpath().c_str() = %s",
                        active_dir_file.fullpath().c_str());
        msg_vdebug_impl(2, "active_dir_file.full_directory().c_str() = %s",
                        active_dir_file.full_directory().c_str());
        if (gen_strcmp(active_dir_file.full_directory(), db_dir) != 0) {
            if (is_zentro)
                VORN_FAIL(
                    "Found same flash exist in the current directory but attempting to delete "
                    "the flash in zentro directory.");
            return false;
        }
    } else if (m_user_flash_template_map.find(device_name) == m_user_flash_template_map.end()) {
        return false;
    }

    auto dir_entry = db_dir_map.find(device_name);
    auto template_entry = m_template_db_dir_map.find(device_name);
    if (dir_entry != db_dir_map.end())
        file = dir_entry->second;
    else if (template_entry != m_template_db_dir_map.end())
        file = template_entry->second;
    else
        return false;
    return true;
}

bool VORN_MGR::build_companion_document(const std::string& device_name,
                                        const std::string& file_to_delete,
                                        const std::string& db_dir,
                                        const std::map<std::string, std::string>& db_dir_map,
                                        std::unique_ptr<PGM_COMMON_XML_ELEMENT>& tree) {
    const std::string target = FIO_PATH(file_to_delete).fullpath();
    const std::string target_name = vorn_base_name(target);
    std::vector<VORN_FLASH*> companion_flashes;
    std::vector<std::string> companion_templates;
    for (const auto& entry : db_dir_map) {
        if (entry.first == device_name || !is_same_file(entry.second, target, target_name))
            continue;
        msg_vdebug_impl(2, "Found flash name = %s", entry.first.c_str());
        auto iter = m_flash_map.find(entry.first);
        VORN_CHECK(iter != m_flash_map.end(), "iter != m_flash_map.end()");
        companion_flashes.push_back(iter->second);
    }
    for (const auto& entry : m_template_db_dir_map) {
        if (entry.first == device_name || !is_same_file(entry.second, target, target_name))
            continue;
        msg_vdebug_impl(2, "Found template name = %s", entry.first.c_str());
        companion_templates.push_back(entry.first);
    }

    VORN_CHECK(save_exists(file_to_delete), "FIO_FILE_SYSTEM::exists(file_to_delete.c_str())");
    msg_vdebug_impl(2, "Deleting XML file %s", file_to_delete.c_str());

    // The companions' document is built before anything changes, so that a companion the
    // writer cannot write stops the deletion with nothing changed.
    for (VORN_FLASH* companion : companion_flashes) {
        if (!flash_fits_file(companion)) {
            post_failed_to_update_db(db_dir);
            return false;
        }
    }
    PGM_COMMON_XML_ELEMENT* raw_tree = nullptr;
    if (!companion_flashes.empty()) raw_tree = create_xml_object_with_flash_list(companion_flashes);
    tree.reset(raw_tree);
    if (!companion_templates.empty()) {
        create_user_template_with_template_list(raw_tree, companion_templates);
        tree.release();
        tree.reset(raw_tree);
    }
    return true;
}

void VORN_MGR::erase_deleted_flash(const std::string& device_name,
                                   std::map<std::string, std::string>& db_dir_map) {
    auto record = m_flash_map.find(device_name);
    VORN_CHECK(record != m_flash_map.end(), "iter4 != m_flash_map.end()");
    msg_vdebug_impl(2, "Before: db_dir_map->size() = %d", static_cast<int>(db_dir_map.size()));
    msg_vdebug_impl(2, "Before: m_flash_db_active_dir_map.size() = %d",
                    static_cast<int>(m_flash_db_active_dir_map.size()));
    msg_vdebug_impl(2, "Before: m_flash_map.size() = %d", static_cast<int>(m_flash_map.size()));
    VORN_FLASH* const erased = record->second;
    const bool was_current = m_flash != nullptr && m_flash == erased;
    on_abandon(restore_entry(db_dir_map, device_name));
    on_abandon(restore_entry(m_flash_db_active_dir_map, device_name));
    on_abandon(restore_entry(m_flash_map, device_name));
    on_abandon([this, erased, was_current] {
        VORN_HOST_ACCESS::flash_map_changed(*this);
        if (was_current) m_flash = erased;
    });
    db_dir_map.erase(device_name);
    m_flash_db_active_dir_map.erase(device_name);
    if (was_current) m_flash = nullptr;
    m_flash_map.erase(record);
    VORN_HOST_ACCESS::flash_map_changed(*this);
    // A re-save may hand the same record back to the map.
    on_commit([this, erased, device_name] {
        auto back = m_flash_map.find(device_name);
        if (back == m_flash_map.end() || back->second != erased) delete erased;
    });
    msg_vdebug_impl(2, "After: db_dir_map->size() = %d", static_cast<int>(db_dir_map.size()));
    msg_vdebug_impl(2, "After: m_flash_db_active_dir_map.size() = %d",
                    static_cast<int>(m_flash_db_active_dir_map.size()));
    msg_vdebug_impl(2, "After: m_flash_map.size() = %d", static_cast<int>(m_flash_map.size()));
}

void VORN_MGR::erase_deleted_template(const std::string& device_name) {
    auto tpl = m_user_flash_template_map.find(device_name);
    if (tpl == m_user_flash_template_map.end()) return;
    msg_vdebug_impl(2, "Before: m_user_flash_template_map->size() = %d",
                    static_cast<int>(m_user_flash_template_map.size()));
    msg_vdebug_impl(2, "Before: m_template_db_dir_map.size() = %d",
                    static_cast<int>(m_template_db_dir_map.size()));
    VORN_USER_FLASH_TEMPLATE* const erased = tpl->second;
    on_abandon(restore_entry(m_user_flash_template_map, device_name));
    on_abandon(restore_entry(m_template_db_dir_map, device_name));
    m_user_flash_template_map.erase(tpl);
    m_template_db_dir_map.erase(device_name);
    on_commit([erased] { delete_user_template(erased); });
    msg_vdebug_impl(2, "After: m_user_flash_template_map->size() = %d",
                    static_cast<int>(m_user_flash_template_map.size()));
    msg_vdebug_impl(2, "After: m_template_db_dir_map.size() = %d",
                    static_cast<int>(m_template_db_dir_map.size()));
}
