// File helpers shared by the host services.
#ifndef HOST_HOST_FILE_H
#define HOST_HOST_FILE_H

#include <string>
#include <sys/types.h>

namespace HOST_FILE {

// What stat says about a file; two equal stamps mean the file was not replaced or rewritten,
// unless the rewrite fell within the file system's timestamp granularity (see is_settled).
struct STAMP {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtime_ns = 0;
    long long ctime_ns = 0;

    bool operator==(const STAMP& o) const {
        return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
               mtime_ns == o.mtime_ns && ctime_ns == o.ctime_ns;
    }
    bool operator!=(const STAMP& o) const { return !(*this == o); }
};

STAMP stamp_of(const std::string& path);

// Now, in nanoseconds of the real-time clock.
long long now_ns();

// Whether a file read at `read_ns` with stamp `stamp` can be trusted while the stamp stays the
// same: a write in the same timestamp tick as the read would leave the stamp unchanged, so a
// file modified shortly before it was read is read again next time.
bool is_settled(const STAMP& stamp, long long read_ns);

// All of `content` to `fd`, through short writes and interruptions; false on an error.
bool write_all(int fd, const std::string& content);

// Whole file into `out`; false when it cannot be read.
bool read_file(const std::string& path, std::string& out);

// Why `replace_file` failed: creating the temporary, or a later step; `error` is errno.
struct WRITE_FAILURE {
    bool temporary = false;
    int error = 0;
};

// Writes `content` to a temporary file beside `path`, flushes it and renames it over `path`,
// so a reader sees the old file or the new one, never half of one; the folder must exist. On
// failure the target is untouched and no temporary stays. Temporaries that killed writers left
// for the same file are removed once old enough to belong to no live writer.
bool replace_file(const std::string& path, const std::string& content, unsigned mode,
                  WRITE_FAILURE* failure);

// Writes `content` to a temporary file in the target's folder and renames it into place, so a
// reader sees the old file or the new one, never half of one. Creates the folder. `mode` is
// the new file's permission bits.
bool write_file_atomic(const std::string& path, const std::string& content, unsigned mode = 0644);

// $XDG_CONFIG_HOME, else ~/.config, without a trailing "/".
std::string config_home();

}  // namespace HOST_FILE

#endif
