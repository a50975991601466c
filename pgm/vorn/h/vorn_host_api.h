// What a host needs beyond the described calls to use them without traps: a start-up that
// answers a broken programmer directory with a reason, drafts it owns and discards, lookups by
// the bytes a part answered that may run on several threads, and a save and a delete that say
// what they wrote or why not instead of raising internal errors.
#ifndef VORN_HOST_API_H
#define VORN_HOST_API_H

#include <cstddef>
#include <string>
#include <vector>

#include "vorn_api.h"
#include "vorn_common.h"

class VORN_MGR;
class VORN_FLASH;

// VORN_HELPER::get_flash_manager(family, renew); null, with the reason in *why, when the
// programmer directory cannot be loaded (missing, or a file of it missing or unreadable) or no
// manager serves the family.
VORN_API VORN_MGR* vorn_open_flash_manager(DEV_FAMILY_ENUM family, bool renew, std::string* why);

// A draft: a record the host owns, edits, saves with vorn_save_flash and frees with
// vorn_discard_draft. A deep copy of `record` (values and flows; it shares nothing with it), so
// that a stored record stays as the file holds it until a save succeeds. The draft is of the
// library's record class of the record's family, holding what the record answers. Null for a
// null record, one of another family, or one whose flows hold operations of a class this
// library does not define.
VORN_API VORN_FLASH* vorn_make_draft(const VORN_FLASH* record);

// Frees a draft (one from vorn_make_draft or create_flash that no save took) and clears every
// reference `mgr` holds to it, so the next lookup cannot meet it. False, with nothing done, when
// `draft` is a record `mgr` stores: those are the manager's.
VORN_API bool vorn_discard_draft(VORN_MGR* mgr, VORN_FLASH* draft);

// Every record of `mgr` that answers the `count` bytes a part returned to its ID command (in the
// order they came), in name order. A record matches when its ID's bytes are the first bytes
// read: each is compared over its own length, so a part stored with three bytes answers a host
// that read four. Records without an ID never match. With `active_family_only`, only records
// whose I/O voltage is the active device family's (unless the filter is switched off).
// Changes nothing: the current record stays as it was. Several threads may call it at once on
// one manager, as long as no save, delete or other call changes that manager meanwhile. The
// records stay the manager's, valid as long as a lookup's (see vorn_mgr.h).
VORN_API std::vector<const VORN_FLASH*> vorn_find_flash_by_id(const VORN_MGR* mgr,
                                                              const unsigned char* bytes,
                                                              size_t count,
                                                              bool active_family_only);

// What a checked save or delete did: on success the file written or removed; otherwise every
// reason it was refused or failed, one sentence each (the validators' texts, the operating
// system's reason), with nothing changed.
struct VORN_HOST_RESULT {
    bool ok = false;
    std::string file;
    std::vector<std::string> problems;
};

// Saves a copy of `draft` into `db_dir`, which may be spelled any way that names the custom or
// the Zentro directory ("dir", "./dir/", an absolute path). Every value goes through the
// described validators first (they post their warnings); a name that is new must pass
// device_name_is_valid, a stored one must not be a built-in device; the file name and path must
// fit the file system. The draft stays the caller's either way (discard it when done); on
// success the manager stores a copy of it, which replaces and deletes the record stored under
// that name. A draft that is itself a stored record is refused: make a draft of it first.
VORN_API VORN_HOST_RESULT vorn_save_flash(VORN_MGR* mgr, const VORN_FLASH* draft,
                                          const std::string& db_dir);

// Deletes the user device (or user template) `name` from `db_dir` (spelled as for
// vorn_save_flash); refused when it is built in, unknown, or not stored in that directory. On
// success the record is deleted: pointers to it dangle.
VORN_API VORN_HOST_RESULT vorn_delete_flash(VORN_MGR* mgr, const std::string& name,
                                            const std::string& db_dir);

// Why the last update_db, delete_db or update_template_db of `mgr` could not change its files,
// in the system's words ("cannot create a temporary file in /db/: Permission denied"); empty
// when nothing stood in the way of the files (a refused value, a save that succeeded).
VORN_API std::string vorn_last_save_error(const VORN_MGR* mgr);

#endif
