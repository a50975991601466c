// Shared set-up of the fuzz targets: a private programmer directory, a private configuration,
// a silent message sink, and the rule that an internal error on user input is a finding.
#ifndef VORN_FUZZ_SUPPORT_H
#define VORN_FUZZ_SUPPORT_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "qspi_documents.h"
#include "vorn.h"

namespace vorn_fuzz {

namespace fs = std::filesystem;

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_text(const std::string& path, const char* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
}

// A crash the fuzzer records, with the reason on stderr.
[[noreturn]] inline void finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "FINDING: %s: %s\n", what, detail.c_str());
    std::abort();
}

[[noreturn]] inline void internal_error_finding(const VORN_INTERNAL_ERROR& e) {
    finding("internal error on user input",
            std::string(e.what()) + " (" + e.file() + ":" + std::to_string(e.line()) + ")");
}

// A scratch tree under the temporary folder, removed at exit. Every fuzzing process (libFuzzer
// may run several) gets its own.
class SCRATCH {
  public:
    static SCRATCH& get() {
        static SCRATCH scratch;
        return scratch;
    }
    const std::string& root() const { return m_root; }
    std::string dir(const std::string& name) const {
        std::string path = m_root + name + "/";
        fs::create_directories(path);
        return path;
    }

  private:
    SCRATCH() {
        std::string templ = (fs::temp_directory_path() / "vorn-fuzz-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) finding("set-up", "mkdtemp failed");
        m_root = templ + "/";
        // The user's own switches and user INI stay out of it, whatever the environment holds.
        setenv("VORN_INI", (m_root + "vorn.ini").c_str(), 1);
        setenv("VORN_USER_INI", (m_root + "user.ini").c_str(), 1);
        setenv("XDG_CONFIG_HOME", m_root.c_str(), 1);
        unsetenv("VORN_DEBUG");
    }
    ~SCRATCH() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    std::string m_root;
};

// The shipped data tree, found beside the sources.
inline std::string shipped_data_dir() { return std::string(VORN_FUZZ_SOURCE_DIR) + "data/"; }

// A golden QSPI template with one-action vendor flows and the first `devices` shipped devices:
// the golden template is trusted input, and a full load per input would spend nearly all the
// time on it.
inline std::string small_qspi_golden(int devices) {
    const std::string full = read_text(shipped_data_dir() + "xml/pgm_flash_db_qspi.xml");
    std::string shipped;
    size_t pos = 0;
    for (int i = 0; i < devices; ++i) {
        const size_t begin = full.find("<FLASH>", pos);
        const size_t end = full.find("</FLASH>", begin);
        if (begin == std::string::npos || end == std::string::npos) break;
        pos = end + std::string("</FLASH>").size();
        shipped += full.substr(begin, pos - begin);
    }
    return qspi_test::golden_document(qspi_test::all_vendors(), shipped);
}

// A programmer directory holding the shipped schemas and device tables and the given golden
// templates, made the host's programmer directory; returns it.
inline std::string make_programmer_dir(const std::string& qspi_golden,
                                       const std::string& sdmmc_golden) {
    const std::string dir = SCRATCH::get().dir("programmer");
    const std::string data = shipped_data_dir();
    for (const char* sub : {"xsd", "dev"}) {
        fs::create_directories(dir + sub);
        fs::copy(data + sub, dir + sub,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    fs::create_directories(dir + "xml");
    write_text(dir + "xml/pgm_flash_db_qspi.xml", qspi_golden.data(), qspi_golden.size());
    write_text(dir + "xml/pgm_flash_db_sdmmc.xml", sdmmc_golden.data(), sdmmc_golden.size());
    PGM_COMMON::set_common_programmer(dir);
    return dir;
}

inline void silence_messages() {
    msg_set_sink([](const MSG_RECORD&) {});
}

}  // namespace vorn_fuzz

#endif
