// File services on std::filesystem.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "fio_export.h"
#include "host_fault.h"

namespace fs = std::filesystem;

namespace {

// Lexical normal form without the doubled separators that lexically_normal keeps at the root.
std::string normal(const fs::path& p) {
    std::string s = p.lexically_normal().string();
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (!(c == '/' && !out.empty() && out.back() == '/')) out += c;
    return out;
}

fs::path absolute_of(const std::string& path) {
    fs::path p(path.empty() ? std::string(".") : path);
    if (p.is_absolute()) return p;
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    return ec ? fs::path("/") / p : cwd / p;
}

bool wildcard_match(const char* pattern, const char* name) {
    // Iterative match with one backtrack point: linear enough for file names.
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

}  // namespace

// ---- FIO_FILE_SYSTEM -------------------------------------------------------------------

bool FIO_FILE_SYSTEM::exists(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::exists(path, ec);
}

bool FIO_FILE_SYSTEM::is_directory(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool FIO_FILE_SYSTEM::is_link(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::is_symlink(path, ec);
}

bool FIO_FILE_SYSTEM::touch(const std::string& path) {
    if (HOST_FAULT::take(HOST_FAULT::TOUCH)) return false;
    if (path.empty()) return false;
    if (exists(path)) return true;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return exists(path);
}

bool FIO_FILE_SYSTEM::chmod(const std::string& path, unsigned int mode) {
    if (HOST_FAULT::take(HOST_FAULT::CHMOD)) return false;
    if (path.empty()) return false;
    return ::chmod(path.c_str(), static_cast<mode_t>(mode & 07777)) == 0;
}

bool FIO_FILE_SYSTEM::remove(const std::string& path) {
    if (HOST_FAULT::take(HOST_FAULT::REMOVE)) return false;
    if (HOST_FAULT::take(HOST_FAULT::REMOVE_SURVIVES)) return true;
    if (path.empty()) return false;
    // unlink refuses directories, which is what a file removal should do.
    if (::unlink(path.c_str()) == 0) return true;
    return errno == ENOENT;
}

bool FIO_FILE_SYSTEM::create_directories(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

namespace {

// POSIX leaves a limit indeterminate (-1) on some file systems; Linux's usual ones then.
size_t folder_limit(const std::string& folder, int name, size_t fallback) {
    const long limit = ::pathconf(folder.empty() ? "." : folder.c_str(), name);
    return limit > 0 ? static_cast<size_t>(limit) : fallback;
}

}  // namespace

size_t FIO_FILE_SYSTEM::max_name_length(const std::string& folder) {
    return folder_limit(folder, _PC_NAME_MAX, 255);
}

size_t FIO_FILE_SYSTEM::max_path_length(const std::string& folder) {
    return folder_limit(folder, _PC_PATH_MAX, 4096);
}

// ---- FIO_PATH --------------------------------------------------------------------------

FIO_PATH::FIO_PATH(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        m_file_name = path;
    } else {
        m_directory = path.substr(0, slash + 1);
        m_file_name = path.substr(slash + 1);
    }
}

void FIO_PATH::set_file_name(const std::string& name) { m_file_name = name; }

std::string FIO_PATH::file_name() const { return m_file_name; }

std::string FIO_PATH::full_directory() const {
    std::string dir = normal(absolute_of(m_directory));
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

std::string FIO_PATH::fullpath() const {
    if (m_file_name.empty()) return full_directory();
    return normal(fs::path(full_directory()) / m_file_name);
}

std::string FIO_PATH::str() const { return m_directory + m_file_name; }

// ---- FIO_FIND --------------------------------------------------------------------------

FIO_FIND::FIO_FIND(const std::string& pattern, bool recursive) : m_pattern(pattern) {
    size_t slash = pattern.rfind('/');
    std::string dir = slash == std::string::npos ? std::string(".") : pattern.substr(0, slash + 1);
    std::string mask = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (mask.empty()) return;

    std::error_code ec;
    auto consider = [&](const fs::directory_entry& entry, const std::string& name) {
        std::error_code type_ec;
        if (entry.is_directory(type_ec)) return;
        if (wildcard_match(mask.c_str(), entry.path().filename().string().c_str()))
            m_names.push_back(name);
    };
    if (recursive) {
        // Names below the folder come back relative to it ("sub/x.xml").
        for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end;
             it.increment(ec)) {
            consider(*it, it->path().lexically_relative(dir).string());
        }
    } else {
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            consider(*it, it->path().filename().string());
    }
    std::sort(m_names.begin(), m_names.end());
}

FIO_FIND::~FIO_FIND() = default;

std::string FIO_FIND::find_first() {
    m_next = 0;
    return find_next();
}

std::string FIO_FIND::find_next() {
    if (m_next >= m_names.size()) return std::string();
    return m_names[m_next++];
}
