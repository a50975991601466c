#include "host_file.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace HOST_FILE {

namespace {

constexpr long long SETTLE_NS = 2000000000LL;  // coarser than any local file system's tick

long long to_ns(const timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// A writer killed between mkstemp and rename leaves its temporary behind; the next
// successful write of the same file removes it.
void remove_stale_temporaries(const std::string& folder, const std::string& file_name) {
    // Old enough that no live writer can still own it.
    constexpr long long STALE_TEMPORARY_NS = 600LL * 1000000000LL;
    const std::string prefix = "." + file_name + ".";
    const std::string dir = folder.empty() ? std::string(".") : folder;
    std::error_code ec;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // mkstemp's suffix is six characters.
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat st;
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (to_ns(now) - to_ns(st.st_mtim) > STALE_TEMPORARY_NS) ::unlink(it->path().c_str());
    }
}

}  // namespace

bool write_all(int fd, const std::string& content) {
    const char* p = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

STAMP stamp_of(const std::string& path) {
    STAMP s;
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.mtime_ns = to_ns(st.st_mtim);
    s.ctime_ns = to_ns(st.st_ctim);
    return s;
}

long long now_ns() {
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return to_ns(t);
}

bool is_settled(const STAMP& stamp, long long read_ns) {
    if (!stamp.exists) return true;
    long long newest = stamp.mtime_ns > stamp.ctime_ns ? stamp.mtime_ns : stamp.ctime_ns;
    return read_ns - newest > SETTLE_NS;
}

bool read_file(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return false;
    out = s.str();
    return true;
}

bool replace_file(const std::string& path, const std::string& content, unsigned mode,
                  WRITE_FAILURE* failure) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = dir + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (failure != nullptr) *failure = {true, errno};
        return false;
    }
    bool ok =
        write_all(fd, content) && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        if (failure != nullptr) *failure = {false, saved};
        return false;
    }
    remove_stale_temporaries(dir, base);
    return true;
}

bool write_file_atomic(const std::string& path, const std::string& content, unsigned mode) {
    if (path.empty() || path.back() == '/') return false;
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty()) {
        fs::create_directories(folder, ec);
        if (!fs::is_directory(folder, ec)) return false;
    }
    return replace_file(path, content, mode, nullptr);
}

std::string config_home() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && *xdg != '\0') {
        std::string dir = xdg;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        return dir;
    }
    const char* home = std::getenv("HOME");
    std::string dir;
    if (home != nullptr && *home != '\0') {
        dir = home;
    } else {
        struct passwd* pw = ::getpwuid(::getuid());
        if (pw != nullptr && pw->pw_dir != nullptr) dir = pw->pw_dir;
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir.empty() ? std::string(".config") : dir + "/.config";
}

}  // namespace HOST_FILE
