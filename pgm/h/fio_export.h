// Host file services.
#ifndef PGM_H_FIO_EXPORT_H
#define PGM_H_FIO_EXPORT_H

#include "pgm_api.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class PGM_API FIO_FILE_SYSTEM {
  public:
    static bool exists(const std::string& path);
    static bool is_directory(const std::string& path);
    // Whether `path` itself is a symbolic link (not followed).
    static bool is_link(const std::string& path);
    // Creates an empty file when it does not exist; true when it exists afterwards.
    static bool touch(const std::string& path);
    static bool chmod(const std::string& path, unsigned int mode);
    // Removes a file; true when it was removed (or did not exist).
    static bool remove(const std::string& path);
    static bool create_directories(const std::string& path);
    // The longest file name, and the longest path, the file system of `folder` holds (bytes).
    static size_t max_name_length(const std::string& folder);
    static size_t max_path_length(const std::string& folder);
};

// A path split into its directory and file name. Relative paths are taken against the
// current directory when made absolute; nothing is resolved on disk.
class PGM_API FIO_PATH {
  public:
    FIO_PATH() = default;
    explicit FIO_PATH(const std::string& path);

    void set_file_name(const std::string& name);
    std::string file_name() const;
    // Absolute, lexically normalised directory, ending with "/".
    std::string full_directory() const;
    // Absolute, lexically normalised path of the file (the directory when no file name).
    std::string fullpath() const;
    // The path as given, with the file name replaced if one was set.
    std::string str() const;

  private:
    std::string m_directory;  // as given, ending with "/" when not empty
    std::string m_file_name;
};

// Wildcard enumeration of one directory ("*" and "?" in the file-name part). Names come back
// in ascending byte order so that every load sees the same order; an empty name ends it.
// Only files are listed, not folders; a missing folder lists nothing. `recursive` also lists
// the files of subfolders, as paths relative to the pattern's folder.
class PGM_API FIO_FIND {
  public:
    FIO_FIND(const std::string& pattern, bool recursive);
    ~FIO_FIND();
    std::string find_first();
    std::string find_next();

  private:
    std::string m_pattern;
    std::vector<std::string> m_names;
    size_t m_next = 0;
};

// Changes to the files of one folder that a crash cannot leave half done. Each new content is
// written whole under a hidden temporary name, and flushed, when it is given; commit() then puts
// every change in place: a single change by one rename or removal, several through a journal
// that recover_folder() completes after a crash. An uncommitted change leaves nothing behind.
// Targets are replaced or removed as directory entries: a symbolic link is never followed, and a
// target that is neither a file nor a link (a folder, a pipe) makes the change fail.
class PGM_API FIO_FOLDER_CHANGE {
  public:
    explicit FIO_FOLDER_CHANGE(const std::string& folder);
    ~FIO_FOLDER_CHANGE();
    FIO_FOLDER_CHANGE(const FIO_FOLDER_CHANGE&) = delete;
    FIO_FOLDER_CHANGE& operator=(const FIO_FOLDER_CHANGE&) = delete;

    // `path` (a file of the folder) will hold `content`, mode 0644; false when its temporary
    // cannot be written or `path` cannot be replaced.
    bool write(const std::string& path, const std::string& content);
    // `path` will be gone; false when it cannot be removed (not a file or a link, or the folder
    // is not writable).
    bool remove(const std::string& path);
    // Whether `path` exists once this change is made: what the change does to it, else the disk.
    bool exists(const std::string& path) const;
    // Puts every change in place; false, with nothing changed, when it cannot.
    bool commit();
    // Why the last write or commit failed.
    const std::string& error() const { return m_error; }

    // What an interrupted change left in `folder` (a journal, hidden temporaries) is completed
    // or removed; one line per file: "<path> (<what>)". Nothing else is touched.
    // Only under the folder's lock (FIO_FOLDER_LOCK), so that no live change is taken for one.
    static std::vector<std::string> recover_folder(const std::string& folder);
    // Whether `folder` holds anything recover_folder would act on; reads the folder only.
    static bool needs_recovery(const std::string& folder);

  private:
    struct STEP {
        std::string target;     // full path
        std::string temporary;  // empty for a removal
    };
    std::string m_folder;
    std::vector<STEP> m_steps;
    std::string m_error;
    bool m_done = false;
};

// An advisory lock on a database folder (flock on the folder itself), held while it lives and
// released when the process ends, however it ends. Within one process the lock is shared: an
// inner lock of a folder already locked is granted at once. `wait` false gives up at once when
// another process holds it; a missing folder is not locked.
class PGM_API FIO_FOLDER_LOCK {
  public:
    FIO_FOLDER_LOCK(const std::string& folder, bool wait);
    ~FIO_FOLDER_LOCK();
    FIO_FOLDER_LOCK(const FIO_FOLDER_LOCK&) = delete;
    FIO_FOLDER_LOCK& operator=(const FIO_FOLDER_LOCK&) = delete;
    bool held() const { return !m_key.empty(); }

  private:
    std::string m_key;
};

#endif
