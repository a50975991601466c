// Crash-safe changes to a database folder, and the folder lock that makes writers take turns.
//
// A change writes every new file whole under a hidden temporary name first (".<name>.XXXXXX",
// which no database pattern matches) and flushes it. Then a change of one file is one rename or
// unlink; a change of several files first writes a journal (".vorn-journal", itself made by a
// rename, so it exists only complete) naming every step, applies the steps and removes the
// journal. A crash before the journal leaves only temporaries, which recovery removes: the old
// state stands. A crash after it leaves a journal, which recovery completes: the new state
// stands. Every step is followed by a flush of the folder, so that the order survives a power
// loss too.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

#include "fio_export.h"
#include "gen_export.h"
#include "host_fault.h"
#include "host_file.h"
#include "pgm_common_export.h"

namespace {

const char* const JOURNAL = ".vorn-journal";
// A temporary is "." + target + TEMPORARY_SUFFIX, mkstemp filling in the X's.
const std::string TEMPORARY_SUFFIX = ".XXXXXX";
// What a temporary's name holds beyond its target's: the leading "." and the suffix.
const size_t TEMPORARY_EXTRA = 1 + TEMPORARY_SUFFIX.size();
const char* const JOURNAL_HEADER = "vorn folder change 1";

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string name_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string with_slash(std::string folder) {
    if (folder.empty()) return "./";
    if (folder.back() != '/') folder += '/';
    return folder;
}

void sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A new hidden file beside `target` holding `content`, flushed; its path, or empty.
std::string write_temporary(const std::string& target, const std::string& content,
                            std::string& error) {
    std::string temp = folder_of(target) + "." + name_of(target) + TEMPORARY_SUFFIX;
    HOST_FAULT::crash_point();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = TARVEN::fmt_sprintf("cannot create a temporary file in %s: %s", folder_of(target),
                                    std::strerror(errno));
        return std::string();
    }
    bool ok = !HOST_FAULT::take(HOST_FAULT::CHANGE_WRITE) && HOST_FILE::write_all(fd, content) &&
              ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    if (!ok && errno == 0) errno = ENOSPC;
    const int saved = errno;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        error = TARVEN::fmt_sprintf("cannot write %s: %s", target, std::strerror(saved));
        return std::string();
    }
    return temp;
}

// A target may be replaced or removed when it is absent, a file or a symbolic link.
bool is_replaceable(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode);
}

bool entry_exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Names in a journal line: every byte that could break the line or the split is escaped.
std::string escape(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c <= ' ' || c == '%' || c == 0x7f)
            out += TARVEN::fmt_sprintf("%%%02X", static_cast<unsigned>(c));
        else
            out += static_cast<char>(c);
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool unescape(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = hex_digit(text[i + 1]);
        const int low = hex_digit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return !out.empty() && out.find('/') == std::string::npos && out != "." && out != "..";
}

bool is_user_file_name(const std::string& name) { return PGM_COMMON::is_flash_file_name(name); }

// The hidden name write_temporary gives a new content of `target`: "." + target + ".XXXXXX".
bool is_temporary_of(const std::string& temporary, const std::string& target) {
    return temporary.size() == target.size() + TEMPORARY_EXTRA && temporary[0] == '.' &&
           temporary.compare(1, target.size(), target) == 0 && temporary[target.size() + 1] == '.';
}

// The steps of a journal, names relative to its folder; false when it is not one a change of
// ours writes: only a database file's own temporary renamed onto it, or a database file
// removed. Anything else is never carried out, whatever the journal says.
bool read_journal(const std::string& path,
                  std::vector<std::pair<std::string, std::string>>& steps) {
    std::string text;
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return false;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
        ::close(fd);
    }
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != JOURNAL_HEADER) return false;
    while (std::getline(in, line)) {
        if (line == "end") return true;
        std::istringstream words(line);
        std::string verb, first, second, extra, a, b;
        words >> verb >> first >> second >> extra;
        if (!extra.empty()) return false;
        if (verb == "rename" && unescape(first, a) && unescape(second, b) && is_user_file_name(b) &&
            is_temporary_of(a, b))
            steps.emplace_back(a, b);
        else if (verb == "remove" && second.empty() && unescape(first, b) && is_user_file_name(b))
            steps.emplace_back(std::string(), b);
        else
            return false;
    }
    return false;
}

// Applies one step; renames a temporary that is still there, removes a target that is.
bool apply(const std::string& folder, const std::string& temporary, const std::string& target) {
    HOST_FAULT::crash_point();
    if (HOST_FAULT::take(HOST_FAULT::CHANGE_APPLY)) return false;
    if (!temporary.empty())
        return ::rename((folder + temporary).c_str(), (folder + target).c_str()) == 0;
    return ::unlink((folder + target).c_str()) == 0 || errno == ENOENT;
}

// Leftovers that a change can leave: hidden temporaries and unfinished journals.
bool is_temporary_name(const std::string& name) {
    if (name.size() < TEMPORARY_EXTRA || name[0] != '.') return false;
    const std::string stem = name.substr(1, name.size() - TEMPORARY_EXTRA);
    if (name[1 + stem.size()] != '.') return false;
    return stem == JOURNAL || PGM_COMMON::is_flash_file_name(stem);
}

struct HELD_LOCK {
    int fd = -1;
    int count = 0;
};

std::mutex& lock_mutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, HELD_LOCK>& held_locks() {
    static std::map<std::string, HELD_LOCK>* held = new std::map<std::string, HELD_LOCK>;
    return *held;
}

}  // namespace

// ---- FIO_FOLDER_CHANGE -----------------------------------------------------------------------

FIO_FOLDER_CHANGE::FIO_FOLDER_CHANGE(const std::string& folder) : m_folder(with_slash(folder)) {}

FIO_FOLDER_CHANGE::~FIO_FOLDER_CHANGE() {
    if (m_done) return;
    for (const STEP& step : m_steps)
        if (!step.temporary.empty()) ::unlink(step.temporary.c_str());
}

bool FIO_FOLDER_CHANGE::write(const std::string& path, const std::string& content) {
    // What stands in the way of the change is found before anything is written.
    if (!is_replaceable(path)) {
        m_error = TARVEN::fmt_sprintf("%s is neither a file nor a link", path);
        return false;
    }
    const std::string temp = write_temporary(path, content, m_error);
    if (temp.empty()) return false;
    m_steps.push_back({path, temp});
    return true;
}

bool FIO_FOLDER_CHANGE::remove(const std::string& path) {
    if (!is_replaceable(path)) {
        m_error = TARVEN::fmt_sprintf("%s is neither a file nor a link", path);
        return false;
    }
    if (::access(m_folder.c_str(), W_OK | X_OK) != 0) {
        m_error = TARVEN::fmt_sprintf("cannot remove %s: %s", path, std::strerror(errno));
        return false;
    }
    m_steps.push_back({path, ""});
    return true;
}

bool FIO_FOLDER_CHANGE::exists(const std::string& path) const {
    for (auto it = m_steps.rbegin(); it != m_steps.rend(); ++it)
        if (it->target == path) return !it->temporary.empty();
    return FIO_FILE_SYSTEM::exists(path);
}

bool FIO_FOLDER_CHANGE::commit() {
    // Only the last step of each target counts: the others' temporaries are dropped now.
    std::vector<STEP> steps;
    for (size_t i = 0; i < m_steps.size(); ++i) {
        bool superseded = false;
        for (size_t j = i + 1; j < m_steps.size(); ++j)
            superseded = superseded || m_steps[j].target == m_steps[i].target;
        if (!superseded)
            steps.push_back(m_steps[i]);
        else if (!m_steps[i].temporary.empty())
            ::unlink(m_steps[i].temporary.c_str());
    }
    m_steps = steps;
    for (const STEP& step : m_steps) {
        if (!is_replaceable(step.target)) {
            m_error = TARVEN::fmt_sprintf("%s is neither a file nor a link", step.target);
            return false;
        }
    }
    if (HOST_FAULT::take(HOST_FAULT::CHANGE_COMMIT)) {
        m_error = "cannot change the folder: injected failure";
        return false;
    }
    if (m_steps.size() == 1) {
        const STEP& step = m_steps[0];
        HOST_FAULT::crash_point();
        const bool ok = step.temporary.empty()
                            ? (::unlink(step.target.c_str()) == 0 || errno == ENOENT)
                            : ::rename(step.temporary.c_str(), step.target.c_str()) == 0;
        if (!ok) {
            m_error =
                TARVEN::fmt_sprintf("cannot change %s: %s", step.target, std::strerror(errno));
            return false;
        }
        m_done = true;
        sync_folder(m_folder);
        return true;
    }
    if (m_steps.empty()) {
        m_done = true;
        return true;
    }

    std::string journal = std::string(JOURNAL_HEADER) + "\n";
    for (const STEP& step : m_steps) {
        if (step.temporary.empty())
            journal += "remove " + escape(name_of(step.target)) + "\n";
        else
            journal += "rename " + escape(name_of(step.temporary)) + " " +
                       escape(name_of(step.target)) + "\n";
    }
    journal += "end\n";
    const std::string journal_path = m_folder + JOURNAL;
    const std::string journal_temp = write_temporary(journal_path, journal, m_error);
    if (journal_temp.empty()) return false;
    HOST_FAULT::crash_point();
    if (::rename(journal_temp.c_str(), journal_path.c_str()) != 0) {
        m_error = TARVEN::fmt_sprintf("cannot write %s: %s", journal_path, std::strerror(errno));
        ::unlink(journal_temp.c_str());
        return false;
    }
    // From here the change is made: what a failure leaves, recovery completes.
    m_done = true;
    sync_folder(m_folder);
    bool complete = true;
    for (const STEP& step : m_steps)
        complete = apply(m_folder, step.temporary.empty() ? "" : name_of(step.temporary),
                         name_of(step.target)) &&
                   complete;
    sync_folder(m_folder);
    if (complete) {
        HOST_FAULT::crash_point();
        ::unlink(journal_path.c_str());
        sync_folder(m_folder);
    }
    return true;
}

namespace {

// What recovery acts on in `folder`, apart from a journal: the hidden temporaries a change
// writes. Nothing else is provably ours: an empty or broken database file is the user's.
std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return found;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& name : names) {
        if (!is_temporary_name(name)) continue;
        struct stat st;
        const std::string path = folder + name;
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) found.push_back(path);
    }
    return found;
}

}  // namespace

bool FIO_FOLDER_CHANGE::needs_recovery(const std::string& folder_in) {
    const std::string folder = with_slash(folder_in);
    return entry_exists(folder + JOURNAL) || !leftovers(folder).empty();
}

std::vector<std::string> FIO_FOLDER_CHANGE::recover_folder(const std::string& folder_in) {
    const std::string folder = with_slash(folder_in);
    std::vector<std::string> report;
    const std::string journal = folder + JOURNAL;
    if (entry_exists(journal)) {
        std::vector<std::pair<std::string, std::string>> steps;
        if (read_journal(journal, steps)) {
            for (const auto& step : steps) {
                const bool pending = step.first.empty() ? entry_exists(folder + step.second)
                                                        : entry_exists(folder + step.first);
                if (pending && apply(folder, step.first, step.second))
                    report.push_back(folder + step.second +
                                     (step.first.empty()
                                          ? " (removed, as an interrupted save intended)"
                                          : " (completed from an interrupted save)"));
            }
            ::unlink(journal.c_str());
        } else {
            // Not one of ours, or damaged: nothing it names is done, and it is kept for a
            // person to look at under a name no load acts on again.
            const std::string aside = journal + ".damaged";
            if (::rename(journal.c_str(), aside.c_str()) == 0)
                report.push_back(journal + " (set aside as " + aside +
                                 ": damaged, so nothing it names was done)");
            else
                report.push_back(journal + " (damaged, so nothing it names was done; it " +
                                 "could not be set aside: " + std::strerror(errno) + ")");
        }
        sync_folder(folder);
    }
    for (const std::string& leftover : leftovers(folder))
        if (::unlink(leftover.c_str()) == 0)
            report.push_back(leftover + " (removed: the unfinished part of an interrupted save)");
    if (!report.empty()) sync_folder(folder);
    return report;
}

// ---- FIO_FOLDER_LOCK -------------------------------------------------------------------------

FIO_FOLDER_LOCK::FIO_FOLDER_LOCK(const std::string& folder, bool wait) {
    std::string key = with_slash(folder);
    char resolved[PATH_MAX];
    if (::realpath(key.c_str(), resolved) == nullptr) return;
    key = with_slash(resolved);
    std::lock_guard<std::mutex> guard(lock_mutex());
    HELD_LOCK& held = held_locks()[key];
    if (held.count == 0) {
        // The folder itself carries the lock: nothing is created, and a read-only folder can
        // be locked too.
        const int fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            held_locks().erase(key);
            return;
        }
        int rc;
        while ((rc = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            ::close(fd);
            held_locks().erase(key);
            return;
        }
        held.fd = fd;
    }
    ++held.count;
    m_key = key;
}

FIO_FOLDER_LOCK::~FIO_FOLDER_LOCK() {
    if (m_key.empty()) return;
    std::lock_guard<std::mutex> guard(lock_mutex());
    auto it = held_locks().find(m_key);
    if (it == held_locks().end()) return;
    if (--it->second.count == 0) {
        ::close(it->second.fd);  // releases the flock
        held_locks().erase(it);
    }
}
