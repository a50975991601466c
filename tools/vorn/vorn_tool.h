// Shared pieces of the vorn tool: output and message routing, the database session, device
// descriptions and the checker of user files.
#ifndef VORN_TOOL_H
#define VORN_TOOL_H

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "vorn.h"
#include "vorn_ext.h"

namespace vorn_tool {

// The longest device or template name the tool saves: its own rule, for the file name it makes.
constexpr size_t MAX_NAME_LENGTH = 128;
// The refusal of a longer name.
std::string name_too_long(const std::string& name, bool is_template);

// Key order is part of what the README documents; keep it as written.
using json = nlohmann::ordered_json;

enum STATUS { STATUS_DONE = 0, STATUS_REJECTED = 1, STATUS_USAGE = 2, STATUS_INTERNAL = 3 };

// A command line that CLI11 accepted but the command cannot (say, neither --id nor --density).
class USAGE_ERROR : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A request the tool refuses or cannot satisfy (not found, not removable...): status 1.
class REFUSED : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// No database where the tool looked: status 3, as a plain line and not as an internal error.
class NO_DATABASE : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct OPTIONS {
    std::string programmer_dir;
    std::string custom_dir;
    bool json = false;
    bool verbose = false;
};

// ---- output ---------------------------------------------------------------------------------

// Data goes to stdout (text, or one JSON document at the end); errors and library messages go
// to stderr, or into the JSON document under --json. While it lives it owns the message sink.
class OUTPUT {
  public:
    explicit OUTPUT(const OPTIONS& options);
    ~OUTPUT();
    OUTPUT(const OUTPUT&) = delete;
    OUTPUT& operator=(const OUTPUT&) = delete;

    bool json_mode() const { return m_json; }
    void begin(const std::string& command) { m_doc["command"] = command; }
    // Text data; swallowed under --json, where data() carries it instead.
    std::ostream& out();
    json& data() { return m_data; }
    // A problem of the tool's own: "vorn: <text>" on stderr, "errors" in JSON.
    void error(const std::string& text);
    // A value the library refused: its posted warning as the default sink shows it (or the
    // explanation when the warning is suppressed), "rejected" in JSON.
    void reject(const std::string& field, const std::string& value,
                const std::vector<MSG_RECORD>& records, const std::string& explanation,
                const std::string& accepted = "");
    void internal_error(const VORN_INTERNAL_ERROR& e);
    // Prints the JSON document (under --json) and gives back the status.
    int finish(int status);

    // Messages posted while a capture is open are held for the caller instead of shown.
    void push_capture();
    std::vector<MSG_RECORD> pop_capture();
    // A library message the caller decided to show after all.
    void show_message(const MSG_RECORD& record);
    // Sees every message first; a message it returns true for goes no further.
    void set_observer(std::function<bool(const MSG_RECORD&)> observer) {
        m_observer = std::move(observer);
    }
    // A user file the loaders skipped, in whole or in part: "skipped" in JSON.
    void skipped(const json& entry) { m_skipped.push_back(entry); }

  private:
    void on_message(const MSG_RECORD& record);

    bool m_json;
    bool m_verbose;
    MSG_SINK m_previous;
    std::vector<std::vector<MSG_RECORD>> m_captures;
    json m_doc;
    json m_data = json::object();
    json m_messages = json::array();
    json m_errors = json::array();
    json m_rejected = json::array();
    json m_skipped = json::array();
    std::unique_ptr<std::ostream> m_null;
    std::function<bool(const MSG_RECORD&)> m_observer;
};

// Holds the messages posted during its lifetime.
class CAPTURE {
  public:
    explicit CAPTURE(OUTPUT& output) : m_output(output) { m_output.push_capture(); }
    ~CAPTURE() {
        if (!m_taken) m_output.pop_capture();
    }
    CAPTURE(const CAPTURE&) = delete;
    CAPTURE& operator=(const CAPTURE&) = delete;
    std::vector<MSG_RECORD> take() {
        m_taken = true;
        return m_output.pop_capture();
    }

  private:
    OUTPUT& m_output;
    bool m_taken = false;
};

json message_json(const MSG_RECORD& record);
// "Warning (20478): text", the default sink's form.
std::string message_line(const MSG_RECORD& record);

// Columns padded to their widest cell; the last column is not padded. Cells are printable().
void print_table(std::ostream& out, const std::vector<std::vector<std::string>>& rows);

// ---- text from files ------------------------------------------------------------------------

// Control characters as escapes (\n, \t, \x1B...), so that a text read from a file can neither
// forge an output line nor steer the terminal. JSON keeps texts exact instead.
std::string printable(const std::string& text);
// A name for a table cell: printable, and cut after NAME_CELL_LIMIT characters.
std::string name_cell(const std::string& name);
constexpr size_t NAME_CELL_LIMIT = 48;
// The candidates closest to `name` (same letters in another case first, then a few edits away),
// best first, at most three.
std::vector<std::string> closest_names(const std::string& name,
                                       const std::vector<std::string>& candidates);
// " ; did you mean A or B?" for closest_names, or "".
std::string did_you_mean(const std::vector<std::string>& names);
// Shell-style pattern (*, ?, [...]) matched against the whole name, ignoring case.
bool glob_matches(const std::string& pattern, const std::string& name);
std::string join(const std::vector<std::string>& items, const std::string& separator);

// ---- progress -------------------------------------------------------------------------------

// One line on stderr that counts through long work ("checking 3/40 files"), drawn only when
// both stdout and stderr are terminals and the output is text. Anything else printed while it
// is shown must call clear() first, or the line would be left in the middle of it.
class PROGRESS {
  public:
    PROGRESS(const OUTPUT& output, std::string what, size_t total);
    ~PROGRESS() { clear(); }
    PROGRESS(const PROGRESS&) = delete;
    PROGRESS& operator=(const PROGRESS&) = delete;
    // Counts one item as done.
    void step();
    void clear();

  private:
    void draw();

    bool m_enabled;
    std::string m_what;
    size_t m_total;
    size_t m_done = 0;
    bool m_shown = false;
    long long m_last_draw_ms = 0;
};

// ---- session --------------------------------------------------------------------------------

enum class DB_DIR { CUSTOM, ZENTRO };

const char* db_dir_name(DB_DIR dir);
// The directory a name of db_dir_names() names.
DB_DIR parse_db_dir(const std::string& name);
// What a command line may name a directory by, for its choice checks.
std::vector<std::string> db_dir_names();

// The database as a host sees it. Directories are settled before the first manager loads,
// because every manager reads the custom directory when it is built.
class SESSION {
  public:
    SESSION(const OPTIONS& options, OUTPUT& output);

    OUTPUT& output() { return m_output; }
    // Builds the SD/MMC manager even when the switch "pgm_enable_sdmmc" is off.
    void want_sdmmc();
    // Settles the directories; never writes the user INI (the library would store "./" there
    // on the first read of an unset entry).
    void prepare();
    VORN_QSPI_MGR* qspi();
    // Null when SD/MMC is off.
    VORN_SDMMC_MGR* sdmmc();
    std::vector<VORN_MGR*> managers();
    // The manager that knows `name` (database or legacy device), its record being the
    // manager's current one; the SD/MMC manager is asked for on a miss. Null when none does.
    VORN_MGR* manager_of(const std::string& name);
    // Like manager_of, but a miss is refused with the closest names.
    VORN_MGR* known_manager_of(const std::string& name);
    // Every name `show` accepts: database devices of the loaded managers and legacy devices.
    std::vector<std::string> device_names();
    std::string db_dir(DB_DIR dir);
    // The directory a command is about to write into; refused when that is the custom
    // directory and none was set, so that nothing lands in whatever the working directory is.
    std::string writable_dir(DB_DIR dir);
    bool custom_dir_is_set() const { return m_custom_dir_source != "default"; }
    // Writers take turns: a command that writes locks both database directories before it
    // loads anything, so that it works on what is on disk and no other writer changes it
    // before it is done. Readers never lock.
    void lock_database();
    const std::string& custom_dir_source() const { return m_custom_dir_source; }

    // Runs one library validator. On rejection reports it through OUTPUT::reject, followed by
    // the values the field accepts, from the choice lists of `choices` (the QSPI manager's
    // when empty).
    bool judge(const std::string& field, const std::string& value,
               const std::function<bool(std::string*)>& check,
               const std::vector<VORN_MGR*>& choices = {});
    // Refuses a device or template name that must never become part of a file name (path
    // separators, "..", empty, NUL, "db", longer than MAX_NAME_LENGTH), before any file is touched.
    // The refusal carries the library's own text where it has one.
    bool name_is_safe(const std::string& name, bool is_template);
    // After a save or delete of `mgr` failed: names each file that stood in its way and did not
    // load whole (the library never changes those) with why and how to go on, or else the
    // system's reason the files could not be changed.
    void explain_failed_save(VORN_MGR* mgr);

  private:
    void load(const std::function<void()>& build);
    void report_skipped_files();

    const OPTIONS& m_options;
    OUTPUT& m_output;
    bool m_prepared = false;
    bool m_loaded = false;
    std::string m_custom_dir_source;
    std::vector<std::string> m_reported_files;
    std::vector<std::unique_ptr<VORN_DB_LOCK>> m_locks;
};

// The values a field of a typed device accepts, as one line ("accepted densities: 1Mb, ...");
// empty for fields without a list. `value` is the refused value (a name's nearest valid form
// is offered); `choices` are the managers whose lists apply.
std::string accepted_values(const std::string& field, const std::string& value,
                            const std::vector<VORN_MGR*>& choices);
// The same for `vorn add --help`, from the QSPI family's own lists.
std::string accepted_values_help();
// A device ID the library accepts may still have more bytes than a lookup by ID reads (four);
// the fifth would be dropped without a word, so the tool refuses it.
bool id_fits_lookup(const std::string& id, std::string* why);
// ID bytes as a person types them ("C2 20 18", "C22018", "0xC2 0x20 0x18") in the library's
// form ("0xC2 0x20 0x18"); bytes without 0x are hexadecimal. A mix of bytes with and without 0x,
// or bare text that is no hexadecimal bytes, is refused with `why` ("<what> '<typed>' ...").
// Anything all in 0x form, or blank, is given back as typed for the library to judge.
bool typed_bytes(const std::string& typed, const std::string& what, std::string* bytes,
                 std::string* why);
// Turns a byte list such as "0xFF 0xFF 0x00" into a lookup value, first byte least
// significant, as device IDs are stored; false when it is not a byte list of 1 to 4 bytes.
bool byte_list_value(const std::string& text, unsigned int* value);

// Absolute, lexically normal, ending with "/".
std::string absolute_dir(const std::string& dir);
std::string absolute_path(const std::string& path);
std::string directory_of(const std::string& path);

// ---- describing devices ---------------------------------------------------------------------

std::string property_label(VORN_ACT_PROPERTY property);
// "WRITE_REG" ... "CUSTOM", the "type" attribute of an ACTION.
const char* action_tag(VORN_ACT_TYPE type);
const char* operation_key(VORN_OP_TYPE type);

// "built-in", "zentro", "custom" or "legacy".
std::string device_source(VORN_MGR* mgr, VORN_FLASH* flash);
std::string device_file(VORN_MGR* mgr, VORN_FLASH* flash);
// The device's own file, as the library writes it (one device in its document).
std::string device_text(VORN_MGR* mgr, VORN_FLASH* flash);
json device_json(VORN_MGR* mgr, VORN_FLASH* flash, bool with_flows);
void print_device(std::ostream& out, VORN_MGR* mgr, VORN_FLASH* flash);
// Both flows, operation by operation and action by action, as `show` prints them.
void print_flows(std::ostream& out, const std::vector<VORN_OPERATION*>* sfl,
                 const std::vector<VORN_OPERATION*>* sdm);
json flows_json(const std::vector<VORN_OPERATION*>* sfl, const std::vector<VORN_OPERATION*>* sdm);
// One row of a device table: name, ID, density, voltage, template, source.
std::vector<std::string> device_row(VORN_MGR* mgr, VORN_FLASH* flash);
std::vector<std::string> device_row_header();
std::string hex(unsigned long long value);

// ---- user files ------------------------------------------------------------------------------

struct PROBLEM {
    PROBLEM() = default;
    PROBLEM(int line_, char severity_, unsigned id_, std::string name_, std::string text_)
        : line(line_),
          severity(severity_),
          id(id_),
          name(std::move(name_)),
          text(std::move(text_)) {}
    int line = 0;
    char severity = 0;  // 'W' or 'E' for library messages
    unsigned id = 0;    // the library message's identifier; 0 for the tool's own findings
    std::string name;
    std::string text;
    std::string accepted;  // what the field takes ("accepted densities: ..."), or ""
};

struct USER_FILE {
    std::string path;       // as given
    std::string full_path;  // absolute
    bool sdmmc = false;
    // What the library read: the devices and templates, with their records where their values
    // are valid.
    VORN_USER_FILE_REPORT report;
    std::vector<std::string> device_names;
    std::vector<std::string> template_names;
    std::vector<PROBLEM> problems;
    std::vector<std::string> notes;
    // Names the database holds already, exactly as this file has them: nothing to save.
    std::vector<std::string> unchanged_devices;
    std::vector<std::string> unchanged_templates;
};

// How names in a file are judged against the loaded database.
struct CHECK_POLICY {
    DB_DIR target = DB_DIR::CUSTOM;
    // Saved through update_db, which replaces an older copy; otherwise the file would sit next
    // to the others and a repeated name is a duplicate when the database loads.
    bool saved_by_update = false;
    // The device being edited, which may keep its own name.
    std::string own_device;
    // A name the database holds already is a problem, unless the older device is to be
    // replaced; `check --replace` judges as `import --replace` would.
    bool replace = false;
};

// A typed field of a user file whose refusal also shows what it accepts (see accepted_values).
struct ACCEPTED_FIELD {
    const char* name = nullptr;
    std::string value;
    VORN_MGR* mgr = nullptr;
};

// Judges user files: the library reads each and judges its values (schema, every device value,
// every action property); names are judged here against each other (across all files given to
// one checker) and against the database. Nothing is saved.
class USER_FILE_CHECKER {
  public:
    USER_FILE_CHECKER(SESSION& session, CHECK_POLICY policy);
    USER_FILE check(const std::string& path);

  private:
    // `record`: the file's entry as read, null when its values are refused.
    void check_device_name(USER_FILE& file, VORN_MGR* mgr, const std::string& name, int line,
                           VORN_FLASH* record);
    void check_template_name(USER_FILE& file, const std::string& name, int line,
                             VORN_FLASH* record);
    // A name the database holds, refused as a problem at `problem` (with the note at `note`, or
    // -1) until settle_repeats finds the entry identical to the database's.
    struct REPEAT {
        std::string name;
        VORN_FLASH* record;
        VORN_MGR* mgr;
        bool is_template;
        size_t problem;
        long note;
    };
    void settle_repeats(USER_FILE& file);
    // Runs a validator; a rejection becomes a problem at `line`.
    bool judge(USER_FILE& file, int line, const std::function<bool(std::string*)>& check,
               const ACCEPTED_FIELD& field = {});

    SESSION& m_session;
    CHECK_POLICY m_policy;
    // Where a name was first defined: as shown ("file:line"), and as the absolute path and
    // line, so that a file named twice is not a duplicate of itself.
    struct SEEN {
        std::string where;
        std::string origin;
    };
    // Notes that `name` is defined at `line` of `file`; returns its first definition when that
    // was another place, else null.
    static const SEEN* first_seen(std::map<std::string, SEEN>& seen, const std::string& name,
                                  const USER_FILE& file, int line);
    // A device and a template of one name clash; a name too long for a file name is refused,
    // and then nothing more of it is checked (false).
    bool name_fits(USER_FILE& file, const std::string& name, int line, bool is_template);
    std::map<std::string, SEEN> m_seen_devices;
    std::map<std::string, SEEN> m_seen_templates;
    std::vector<REPEAT> m_repeats;  // of the file being checked
};

// Problems one per line ("file:line: text"), then a summary; JSON under --json.
void report_file(std::ostream& out, const USER_FILE& file);
json file_json(const USER_FILE& file);
json problems_json(const std::vector<PROBLEM>& problems);
// "Warning (20478): text" for a library message, the text alone for the tool's own.
std::string problem_text(const PROBLEM& problem);

// ---- commands -------------------------------------------------------------------------------

struct COMMAND {
    CLI::App* app;
    std::function<int(SESSION&)> run;
    // A command that writes into a database directory takes its lock before it loads.
    bool writes = false;
};

void add_query_commands(CLI::App& app, std::vector<COMMAND>& commands);
void add_edit_commands(CLI::App& app, std::vector<COMMAND>& commands);
void add_file_commands(CLI::App& app, std::vector<COMMAND>& commands);
void add_config_commands(CLI::App& app, std::vector<COMMAND>& commands);
void add_verify_commands(CLI::App& app, std::vector<COMMAND>& commands);

// ---- flow checks ----------------------------------------------------------------------------

// "NAME (Vendor): 1 error, 0 warnings", then one line per finding.
void print_flow_check(std::ostream& out, const std::string& name,
                      const VORN_FLOW_CHECK_RESULT& result);
json flow_check_json(const std::string& name, const VORN_FLOW_CHECK_RESULT& result);
// Checks the flows of a device about to be saved: findings go to stderr (or `into`, which
// always receives them as JSON). True when `strict` and an error-level finding block the save.
// `judge_as` (a VORN_PROG_FLOW_TEMPLATE, or -1) checks a maker without facts as that vendor.
bool report_flow_check(OUTPUT& output, const VORN_FLASH& flash, bool strict, json& into,
                       int judge_as = -1);
// The vendor typed for --judge-as, any case; a usage error names the accepted ones.
int parse_judge_as(const std::string& typed);
// Refuses --judge-as for a device whose maker has facts of its own: they judge it.
void refuse_judge_as_for_known_maker(const VORN_FLASH& flash);
// A warning of the tool's own: "vorn: warning: <text>" on stderr, "warnings" in JSON.
void warn(OUTPUT& output, const std::string& text);
// The help of every --id option: the forms a typed ID takes.
inline constexpr const char* ID_OPTION_HELP =
    "ID bytes in the order the part sends them, such as \"0x20 0xBA 0x19\", \"20 BA 19\" or "
    "\"20BA19\"";

}  // namespace vorn_tool

#endif
