// Test seam: makes the next host file operations of a kind fail, since tests run as root and
// permissions alone cannot make the file system refuse.
#ifndef HOST_HOST_FAULT_H
#define HOST_HOST_FAULT_H

namespace HOST_FAULT {

enum OP {
    TOUCH,            // FIO_FILE_SYSTEM::touch fails
    CHMOD,            // FIO_FILE_SYSTEM::chmod fails
    REMOVE,           // FIO_FILE_SYSTEM::remove fails and the file stays
    REMOVE_SURVIVES,  // FIO_FILE_SYSTEM::remove reports success but the file stays
    WRITE_XML,        // PGM_COMMON_XML::write_xml fails without touching the target
    WRITE_INI,        // cfg_write_user_ini_file fails without touching the file
    CHANGE_WRITE,     // FIO_FOLDER_CHANGE::write cannot write its temporary (a full disk)
    CHANGE_COMMIT,    // FIO_FOLDER_CHANGE::commit cannot put the change in place
    CHANGE_APPLY,     // a step of a journalled commit fails after the journal is written
};

// The next `count` calls of `op` fail (adds to what is already pending).
void fail_next(OP op, int count = 1);
// Drops every pending failure.
void clear();
// True, and one pending failure of `op` is used up, when `op` should fail now.
bool take(OP op);
// Failures of `op` still pending.
int pending(OP op);

// Crash tests: the process ends at once (as a kill would end it) when it reaches the `n`-th
// point where a folder change is about to touch the disk; 0 turns it off.
void crash_at(int n);
// Called before each such step.
void crash_point();

}  // namespace HOST_FAULT

#endif
