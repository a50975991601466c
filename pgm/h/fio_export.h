// Host file services.
#ifndef PGM_H_FIO_EXPORT_H
#define PGM_H_FIO_EXPORT_H

#include <memory>
#include <string>
#include <vector>

class FIO_FILE_SYSTEM {
public:
    static bool exists(const std::string& path);
    static bool is_directory(const std::string& path);
    // Creates an empty file when it does not exist; true when it exists afterwards.
    static bool touch(const std::string& path);
    static bool chmod(const std::string& path, unsigned int mode);
    // Removes a file; true when it was removed (or did not exist).
    static bool remove(const std::string& path);
    static bool create_directories(const std::string& path);
};

// A path split into its directory and file name. Relative paths are taken against the
// current directory when made absolute; nothing is resolved on disk.
class FIO_PATH {
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
class FIO_FIND {
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

#endif
