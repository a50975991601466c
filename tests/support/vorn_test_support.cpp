#include "vorn_test_support.h"

#include <fnmatch.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vorn_test {

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "vorn-test-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = templ + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only files behind; make everything writable first.
    for (auto& entry : fs::recursive_directory_iterator(m_path, ec)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
}

std::string TempDir::file(const std::string& relative) const {
    fs::path p = fs::path(m_path) / relative;
    fs::create_directories(p.parent_path());
    return p.string();
}

void TempDir::write(const std::string& relative, const std::string& content) const {
    std::ofstream out(file(relative), std::ios::binary | std::ios::trunc);
    out << content;
}

Child::Child(const std::function<int()>& work, bool gated) {
    if (gated && pipe(m_go) != 0) throw std::runtime_error("pipe failed");
    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid != 0) return;
    char byte = 0;
    if (gated && read(m_go[0], &byte, 1) != 1) _exit(2);  // the parent gave up
    try {
        _exit(work());
    } catch (...) {
        _exit(3);
    }
}

// A child still gated is released by the closed pipe, so a failed test never hangs on it.
Child::~Child() {
    for (int fd : m_go)
        if (fd >= 0) close(fd);
    if (m_pid > 0) waitpid(m_pid, nullptr, 0);
}

bool Child::go() { return write(m_go[1], "g", 1) == 1; }

int Child::wait() {
    int status = 0;
    const pid_t pid = m_pid;
    m_pid = -1;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string sdmmc_document(const std::vector<CARD>& cards) {
    std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SDMMC_FLASH version=\"1\">\n";
    for (const CARD& c : cards)
        doc += "  <FLASH><DEVICE_INFO><DEVICE_NAME>" + c.name +
               "</DEVICE_NAME><DEVICE_IO_VOLTAGE>" + c.io_voltage +
               "</DEVICE_IO_VOLTAGE><DEVICE_DENSITY>" + c.density +
               "</DEVICE_DENSITY></DEVICE_INFO></FLASH>\n";
    return doc + "</SDMMC_FLASH>\n";
}

std::vector<std::string> entries(const std::string& dir, const char* pattern) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (fnmatch(pattern, entry.path().filename().c_str(), 0) == 0)
            out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempDir::read(const std::string& relative) const {
    return read_text((fs::path(m_path) / relative).string());
}

std::vector<TABLE_ROW> read_table(const std::string& name, size_t columns) {
    std::istringstream in(read_test_file(name));
    std::vector<TABLE_ROW> rows;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        TABLE_ROW row{number, {}};
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) row.fields.push_back(field);
        row.fields.resize(columns);
        rows.push_back(row);
    }
    return rows;
}

bool TempDir::exists(const std::string& relative) const {
    return fs::exists(fs::path(m_path) / relative);
}

MessageCapture::MessageCapture() {
    m_previous = msg_set_sink([this](const MSG_RECORD& r) { m_records.push_back(r); });
}

MessageCapture::~MessageCapture() { msg_set_sink(m_previous); }

std::vector<MSG_RECORD> MessageCapture::messages() const {
    std::vector<MSG_RECORD> out;
    for (const auto& r : m_records)
        if (r.severity != 'D') out.push_back(r);
    return out;
}

std::vector<unsigned> MessageCapture::message_ids() const {
    std::vector<unsigned> out;
    for (const auto& r : m_records)
        if (r.severity != 'D') out.push_back(r.id);
    return out;
}

std::vector<std::string> MessageCapture::traces() const {
    std::vector<std::string> out;
    for (const auto& r : m_records)
        if (r.severity == 'D') out.push_back(r.text);
    return out;
}

size_t MessageCapture::count_id(unsigned id) const {
    size_t n = 0;
    for (const auto& r : m_records) n += r.severity != 'D' && r.id == id;
    return n;
}

ProgrammerDir::ProgrammerDir() {
    cfg_clear_switches();
    for (const char* sub : {"xml", "xsd", "dev"}) {
        fs::path from = fs::path(VORN_TEST_DATA_DIR) / sub;
        fs::path to = fs::path(m_dir.path()) / sub;
        fs::create_directories(to);
        if (fs::exists(from)) fs::copy(from, to, fs::copy_options::recursive);
    }
    PGM_COMMON::set_common_programmer(m_dir.path());
}

ProgrammerDir::~ProgrammerDir() {
    PGM_COMMON::set_common_programmer("");
    cfg_clear_switches();
}

std::string read_test_file(const std::string& name) {
    const std::string path = std::string(VORN_TEST_FILES_DIR) + name;
    if (!fs::exists(path)) throw std::runtime_error("missing test file " + name);
    return read_text(path);
}

}  // namespace vorn_test
