// The family-independent database manager: maps, lookups, validation, saving and deleting.
#ifndef VORN_MGR_H
#define VORN_MGR_H

#include "vorn_api.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vorn_flash.h"

// What reading a user file found, line by line: the loaders keep one report for every file
// that did not load whole or drew a message (get_load_report).

// One thing wrong in a file.
struct VORN_API VORN_LOAD_FINDING {
    int line = 0;       // 0: the file as a whole, or not known
    char severity = 0;  // 'E' or 'W' for a library message it posted, 0 for the reader's own
    unsigned id = 0;    // the message's identifier, 0 for the reader's own
    std::string name;   // the message's name, "" for the reader's own
    std::string text;
    // The device field whose value was refused ("density", "I/O voltage", "total dies",
    // "dummy clock cycles", "dummy clock cycles x4", "device ID in a file"), and that value;
    // empty for anything else.
    std::string field;
    std::string value;
};

// One file: its verdict and what it drew.
struct VORN_API VORN_LOAD_REPORT {
    std::string file;     // full path as the loader found it, or as given to vorn_check_user_file
    bool loaded = false;  // every device and template of it taken (a check: nothing found)
    // Of the file as a whole (a check: the entries below hold their own).
    std::vector<VORN_LOAD_FINDING> findings;
};

// Per device family: whether it programs flash through the SDM flow, and the flash I/O
// voltage it accepts.
struct VORN_API VORN_DEV_INFO {
    bool use_sdm_mode = false;
    std::string io_voltage;
};

// What the last update_db, delete_db, update_template_db or delete_template of a manager changed,
// by full path: the file the device and the user template were written to and the file an entry
// was deleted from (removed, or rewritten with the entries it shares); empty where it changed
// none. After a failure, `refused` names the files that stood in the way: one that did not load
// whole (no save changes it), or one that could not be written, removed or put in place.
struct VORN_API VORN_SAVE_FILES {
    std::string device_file;
    std::string template_file;
    std::string deleted_from;
    std::vector<std::string> refused;
};

// The two owned flows of a user template; its name is its key in the template map.
struct VORN_API VORN_USER_FLASH_TEMPLATE {
    std::vector<VORN_OPERATION*> sdm_operation_list;
    std::vector<VORN_OPERATION*> sfl_operation_list;
};

class VORN_API VORN_MGR {
  public:
    VORN_MGR();
    virtual ~VORN_MGR();
    VORN_MGR(const VORN_MGR&) = delete;
    VORN_MGR& operator=(const VORN_MGR&) = delete;

    virtual bool get_use_sdm_mode();
    virtual DEV_FAMILY_ENUM get_active_device_family();
    virtual void set_active_device_family(DEV_FAMILY_ENUM family);
    virtual PGMIO_CONFIG_SCHEME get_active_config_mode();
    virtual void set_active_config_mode(PGMIO_CONFIG_SCHEME scheme);
    // A legacy name gives a new record each call (the previous legacy record is deleted);
    // database records stay owned by the manager. The record found becomes the current one.
    // What the lookups return is the manager's: valid until the record is deleted or replaced
    // by a save or delete of its name, or the manager is deleted (a refresh). A legacy record
    // lives only until the next lookup or create_flash. A record edited in place through its
    // setters is found by its new values at the next lookup. Not to be called from several
    // threads at once; vorn_find_flash_by_id (vorn_host_api.h) may be.
    virtual VORN_FLASH* get_flash(std::string name, bool ignore_filter);
    // First record in name order whose ID matches under `mask`.
    virtual VORN_FLASH* get_flash_with_id(unsigned int id, unsigned int mask);
    // Every record's name, in name order, whose ID matches under `mask` as above: the devices a
    // lookup by that ID chooses among. Leaves the current record as it is.
    std::vector<std::string> get_flash_names_with_id(unsigned int id, unsigned int mask);
    // First record in name order with that density in bytes.
    virtual VORN_FLASH* get_flash_with_density(unsigned long long bytes);
    virtual bool device_exist_in_db(std::string name, bool ignore_filter);
    virtual bool device_is_legacy(std::string name, bool ignore_filter);
    virtual bool is_new_device_supported();
    virtual bool is_flash_operation_supported();
    virtual bool is_flash_action_supported();
    virtual bool is_parameter_valid(VORN_FLASH_PARAM param);
    virtual bool is_parameter_valid(VORN_FLASH_PARAM param, std::string value, std::string* err);
    virtual bool is_parameter_valid(VORN_FLASH_PARAM param, unsigned int value, std::string* err);
    virtual bool is_parameter_compatible(VORN_FLASH_PARAM param, std::string value,
                                         std::string* err);
    // Saves `flash` (taking ownership) into the Zentro or the custom directory. A record that
    // could not be saved is deleted, unless it is the one the manager already holds under its
    // name; either way the caller must not use the pointer after a false result.
    // Internal errors: a null record; an empty `db_dir`, or one not spelled exactly as the
    // Zentro or the custom directory's full_directory() (absolute, normalised, ending with "/").
    // Values are not validated here. vorn_save_flash (vorn_host_api.h) checks all of that first.
    virtual bool update_db(VORN_FLASH* flash, std::string db_dir);
    // Removes a device or user template from `db_dir`, rewriting the entries sharing its file.
    // Internal errors: an empty name or `db_dir`; `db_dir` spelled as for update_db; a device of
    // the custom directory asked to be deleted from the Zentro directory; its file gone from
    // disk. vorn_delete_flash (vorn_host_api.h) checks all of that first.
    virtual bool delete_db(std::string name, std::string db_dir);
    virtual DEV_FAMILY_ENUM get_flash_family() = 0;
    // The device families the manager serves (the keys of m_dev_info_map), in value order.
    virtual std::vector<DEV_FAMILY_ENUM> get_device_family_list();
    virtual std::vector<PGMIO_CONFIG_SCHEME> get_config_mode_list() = 0;
    virtual std::vector<std::string> get_new_config_device_list(DEV_FAMILY_ENUM family,
                                                                PGMIO_CONFIG_SCHEME scheme,
                                                                bool ignore_filter) = 0;
    virtual std::vector<std::string> get_legacy_config_device_list(DEV_FAMILY_ENUM family,
                                                                   PGMIO_CONFIG_SCHEME scheme,
                                                                   bool ignore_filter) = 0;
    virtual std::vector<std::string> get_device_io_voltage_list() = 0;
    virtual std::vector<std::string> get_device_density_list() = 0;
    virtual std::vector<std::string> get_prog_flow_template_list() = 0;
    virtual std::vector<std::string> get_user_template_list() = 0;
    // A newly constructed manager of the same class; the caller owns it (delete it), and it
    // loads the database anew. Pointers from other managers are not affected.
    virtual VORN_MGR* get_new_instance() = 0;
    // A new record that also becomes the current one (a legacy current record is deleted). The
    // caller owns it, a draft, until update_db takes it; vorn_discard_draft frees one that is
    // not saved (plain delete would leave the manager pointing at it).
    virtual VORN_FLASH* create_flash(std::string name) = 0;
    // New objects the caller owns until a record (set_operation_list, add_operation_into_list)
    // or an operation (add_action_into_list) takes them.
    virtual VORN_ACTION* create_action(VORN_ACT_TYPE type) = 0;
    virtual VORN_OPERATION* create_operation(VORN_OP_TYPE type) = 0;
    // The manager's own lists: copy the operations (VORN_QSPI_OPERATION's copy constructor)
    // before giving them to a record. Valid as long as the manager (a user template's, until
    // that template is deleted or replaced). Internal errors: a template value outside
    // VORN_PROG_FLOW_TEMPLATE; a user template name the manager does not hold (ask
    // get_user_template_list first). The SD/MMC manager answers null to both.
    virtual std::vector<VORN_OPERATION*>* get_prog_flow_template_operation_list(
        VORN_PROG_FLOW_TEMPLATE tpl, VORN_PROG_FLOW_TYPE type) = 0;
    virtual std::vector<VORN_OPERATION*>* get_user_template_operation_list(
        std::string& name, VORN_PROG_FLOW_TYPE type) = 0;
    virtual bool get_operation_editable_permission(VORN_FLASH* flash) = 0;
    // Saves `flash`'s flows as the user template its VORN_FLASH_PARAM_TEMPLATE_NAME names; the
    // record stays the caller's. Internal errors: a null record or an empty template name; a
    // template name that fails template_name_is_valid (one already held included). `db_dir`
    // must end with "/": the file name is appended to it as it is.
    virtual bool update_template_db(VORN_FLASH* flash, std::string db_dir) = 0;
    // False for a name that is not a user template; otherwise as delete_db.
    virtual bool delete_template(std::string name) = 0;
    virtual bool is_valid_name(std::string& name);
    virtual bool is_golden_template_name(std::string& name);
    virtual bool device_name_is_valid(std::string name, std::string* err);
    virtual bool device_density_is_valid(std::string density, std::string* err);
    virtual bool device_io_voltage_is_valid(std::string voltage, std::string* err);
    virtual bool device_io_voltage_is_compatible(std::string voltage, std::string* err);
    virtual bool write_flash_xml_and_update_dir_map(VORN_FLASH* flash, std::string db_dir,
                                                    std::map<std::string, std::string>* db_dir_map);
    // A new document tree holding the listed devices; the caller owns it. Internal errors: an
    // empty list; a record whose values or flows fail their validators.
    virtual PGM_COMMON_XML_ELEMENT* create_xml_object_with_flash_list(
        std::vector<VORN_FLASH*> flash_list) = 0;
    // Appends the listed user templates to `root`, creating the root when it is null.
    virtual void create_user_template_with_template_list(
        PGM_COMMON_XML_ELEMENT*& root, std::vector<std::string> template_list) = 0;

    // The family's schema and golden template: programmer directory + "xsd/" or "xml/" + the
    // family's file name, concatenated as they are.
    std::string get_xsd_file();
    std::string get_golden_template_file();

    // The tool-suite database directory: programmer directory + "xml/".
    static std::string get_db_zentro_dir();
    // The custom directory ("./" until set); shared by every manager of the process.
    static std::string get_db_custom_dir();
    static void set_db_custom_dir(std::string dir);
    static bool save_custom_dir_to_ini(std::string dir, bool force);
    static std::string get_custom_dir_from_ini();

    // Space-separated bytes ("0x9F", "0x03 0x00 0xFF", "255") to a new[] array owned by the
    // caller; null with size 0 and ok false when malformed. An empty text is an internal error.
    static unsigned char* convert_data_list_string_to_byte_array(std::string data_string,
                                                                 unsigned int* size, bool* ok);

    // Read-only views of the maps, for hosts and tools that show where entries live.
    const std::map<std::string, VORN_FLASH*>& get_flash_map() const { return m_flash_map; }
    const std::map<std::string, std::string>& get_zentro_dir_map() const {
        return m_zentro_dir_map;
    }
    const std::map<std::string, std::string>& get_custom_dir_map() const {
        return m_custom_dir_map;
    }
    const std::map<std::string, std::string>& get_flash_db_active_dir_map() const {
        return m_flash_db_active_dir_map;
    }
    const std::map<std::string, VORN_USER_FLASH_TEMPLATE*>& get_user_flash_template_map() const {
        return m_user_flash_template_map;
    }
    const std::map<std::string, std::string>& get_template_db_dir_map() const {
        return m_template_db_dir_map;
    }
    // User files that did not load whole (unreadable, or a device or template in them
    // refused), by full path, with why. A save never replaces, rewrites or removes one of
    // them: what they hold beyond the maps would be lost.
    const std::map<std::string, std::string>& get_files_not_loaded() const {
        return m_files_not_loaded;
    }
    // The user files the load did not take whole or that drew messages, in the order read, each
    // with the messages posted while it was read (without lines: vorn_check_user_file finds
    // those).
    const std::vector<VORN_LOAD_REPORT>& get_load_report() const { return m_load_report; }
    const std::map<DEV_FAMILY_ENUM, VORN_DEV_INFO>& get_dev_info_map() const {
        return m_dev_info_map;
    }
    // Beside the bool of the last save or delete: the files it changed (see VORN_SAVE_FILES).
    const VORN_SAVE_FILES& get_last_save_files() const { return m_last_save; }
    // The current record (the one the last lookup returned), or null.
    VORN_FLASH* get_current_flash() const { return m_flash; }

  protected:
    // Held by each public save and delete for its duration; the outermost one starts a new
    // get_last_save_files(), so that a save that calls another reports both.
    class SAVE_CALL {
      public:
        explicit SAVE_CALL(VORN_MGR& mgr) : m_mgr(mgr) {
            if (m_mgr.m_save_calls++ == 0) m_mgr.m_last_save = VORN_SAVE_FILES();
        }
        ~SAVE_CALL() { --m_mgr.m_save_calls; }
        SAVE_CALL(const SAVE_CALL&) = delete;
        SAVE_CALL& operator=(const SAVE_CALL&) = delete;

      private:
        VORN_MGR& m_mgr;
    };
    // For the save in progress to say what it changed once it is committed.
    VORN_SAVE_FILES& last_save_files() { return m_last_save; }

    // Saves are crash-safe: the files a save, a delete or a template save changes are written
    // whole beside their targets and put in place together when it succeeds (FIO_FOLDER_CHANGE),
    // under the lock of the directory (VORN_DB_LOCK). Runs `work` as one such save of `db_dir`:
    // inside the save in progress, or as a save of its own. False when work or the commit fails;
    // the maps and files are then as they were.
    bool save_as_one(const std::string& db_dir, const std::function<bool()>& work);
    // For the work of a save: the files it writes and removes, whether a file exists once the
    // save is made, and what to undo when it is abandoned or finish once it is committed.
    bool save_file(const std::string& path, const std::string& content);
    bool save_removal(const std::string& path);
    // True, with the failure posted, when `file` did not load whole: it is not ours to change.
    bool refuse_file_not_loaded(const std::string& file, const std::string& db_dir);
    bool save_exists(const std::string& path) const;
    void on_abandon(std::function<void()> undo);
    void on_commit(std::function<void()> done);
    // Whether every value of the record's flows fits the element the family's writer puts it
    // in. Validation accepts numbers of any size where a file holds 32 bits, so saves ask this
    // first. True here: a family without flows writes no numbers of them.
    virtual bool flash_fits_file(VORN_FLASH* flash);
    // The user files of the tool-suite directory (its golden template aside) and of the custom
    // directory; true when every file loaded cleanly.
    bool parse_user_xml_in_zentro_dir();
    bool parse_user_xml_in_custom_dir();
    // The family's user files "pgm_flash_*.xml" of `dir`, in finder order, all but the one named
    // `skipped_name` (if any). True here: a family of no files of its own reads none.
    virtual bool parse_user_xml_in_dir(const std::string& dir, const char* trace_format,
                                       const char* skipped_name,
                                       std::map<std::string, std::string>& dir_map);
    // The family's golden template: its file name in xml/ of the programmer directory.
    virtual const char* golden_template_file_name() const;
    // The family's schema: its file name in xsd/ of the programmer directory.
    virtual const char* xsd_file_name() const;
    // Fills m_dev_info_map from the host's device families that serves_family takes.
    void initialize_dev_info();
    // Whether the family of `record` is one this manager serves: here, when the host enables it.
    virtual bool serves_family(DEV_FAMILY_ENUM family, const PGMDEV_DEV_INFO& record) const;

    // Deletes m_flash when it is a legacy record (owned through m_flash only).
    void release_legacy_flash();
    // Empties the family information, the directory maps and the records; a current record
    // that was one of them is forgotten, so that no lookup can return it.
    void clear_flash_mapping_info();
    // The database half of device_exist_in_db: `name` is in m_flash_map and, unless the
    // filter is off, its I/O voltage is the active device family's.
    bool flash_passes_filter(const std::string& name, bool ignore_filter);

    DEV_FAMILY_ENUM m_active_device_family = DEV_FAMILY_NONE;
    PGMIO_CONFIG_SCHEME m_active_config_mode = PGMIO_CONFIG_SCHEME_NONE;
    bool m_use_sdm_mode = false;
    bool m_skip_device_filtering = false;
    VORN_FLASH* m_flash = nullptr;
    std::map<std::string, VORN_FLASH*> m_flash_map;
    std::map<DEV_FAMILY_ENUM, VORN_DEV_INFO> m_dev_info_map;
    std::map<std::string, std::string> m_zentro_dir_map;
    std::map<std::string, std::string> m_custom_dir_map;
    std::map<std::string, std::string> m_flash_db_active_dir_map;
    std::map<std::string, VORN_USER_FLASH_TEMPLATE*> m_user_flash_template_map;
    std::map<std::string, std::string> m_template_db_dir_map;
    // Filled by the loaders; see get_files_not_loaded.
    std::map<std::string, std::string> m_files_not_loaded;
    std::vector<VORN_LOAD_REPORT> m_load_report;

  private:
    // What the manager keeps to itself (vorn_mgr.cpp, vorn_mgr_save.cpp).
    struct IMPL;
    std::unique_ptr<IMPL> m_impl;
    struct PENDING_SAVE;
    PENDING_SAVE* m_pending_save = nullptr;
    // The steps of delete_db. The file that holds `name` in `db_dir`; false when there is
    // nothing of it to delete there.
    bool find_file_to_delete(const std::string& name, const std::string& db_dir,
                             const std::map<std::string, std::string>& db_dir_map, bool is_zentro,
                             std::string& file);
    // The document of what else `file` holds, into `tree` (null when nothing); false, with the
    // failure posted, when one of them cannot be written.
    bool build_companion_document(const std::string& name, const std::string& file,
                                  const std::string& db_dir,
                                  const std::map<std::string, std::string>& db_dir_map,
                                  std::unique_ptr<PGM_COMMON_XML_ELEMENT>& tree);
    // Inside the save: takes the device or the template out of the maps, undone if abandoned.
    void erase_deleted_flash(const std::string& name,
                             std::map<std::string, std::string>& db_dir_map);
    void erase_deleted_template(const std::string& name);
    // Why the last save or delete could not write or commit its files: the system's reason.
    std::string m_save_error;
    VORN_SAVE_FILES m_last_save;
    int m_save_calls = 0;
    friend struct VORN_HOST_ACCESS;
    // The record get_flash last made for a legacy name; owned through m_flash.
    VORN_FLASH* m_legacy_record = nullptr;
};

#endif
