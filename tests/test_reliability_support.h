// Shared by the reliability and security suites: a compact golden template, valid records to
// save, and a reading of a database folder that is independent of the manager.
#ifndef TEST_RELIABILITY_SUPPORT_H
#define TEST_RELIABILITY_SUPPORT_H

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "test_qspi_fixture.h"
#include "vorn.h"

namespace reliability_test {

// Five vendors with one Write Enable each; the suites are about user files, and a full golden
// template would make every fresh load slow.
inline std::string small_golden() {
    return qspi_test::golden_document(qspi_test::all_vendors(), "");
}

// A programmer folder with the small golden template, and an empty custom folder; both current
// for as long as it lives. Fixtures derive from it beside ::testing::Test.
struct SMALL_DATABASE {
    SMALL_DATABASE() {
        programmer.write("xml/pgm_flash_db_qspi.xml", small_golden());
        VORN_MGR::set_db_custom_dir(custom.path());
    }
    ~SMALL_DATABASE() { VORN_MGR::set_db_custom_dir(""); }

    vorn_test::ProgrammerDir programmer;
    vorn_test::TempDir custom;
};

// A valid QSPI record whose flows are a copy of a vendor's; not held by any manager.
inline VORN_FLASH* make_qspi_device(VORN_QSPI_MGR& mgr, const std::string& name,
                                    VORN_PROG_FLOW_TEMPLATE vendor = VORN_PROG_FLOW_TEMPLATE_MICRON,
                                    const std::string& template_name = "") {
    VORN_FLASH* flash = qspi_test::complete_record(mgr, new VORN_QSPI_FLASH(name), vendor,
                                                   "0x20 0xBB 0x19", "1.8V", "256Mb");
    if (!template_name.empty())
        flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, template_name);
    return flash;
}

// Every path below `root` (files and folders, links not followed), relative to it, sorted.
inline std::vector<std::string> tree(const std::string& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec))
        out.push_back(entry.path().lexically_relative(root));
    std::sort(out.begin(), out.end());
    return out;
}

// Whether a QSPI user file passes the schema and parses, read through the host's XML layer only.
inline bool is_valid_qspi_file(const std::string& path) {
    const std::string xsd = PGM_COMMON::pgm_get_common_programmer() + "xsd/vorn_qspi.xsd";
    std::string error;
    std::string warning;
    if (!PGM_COMMON_XML::check_xsd(path, xsd, error, warning)) return false;
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
        PGM_COMMON_XML::parse_xml(PGM_COMMON_XML_FILE_VORN_QSPI, path, xsd, false, "", "", ""));
    return root != nullptr;
}

// The vorn tool of this build, or empty when the build has none.
inline std::string tool_path() {
    const std::string path = std::string(VORN_TEST_BINARY_DIR) + "tools/vorn/vorn";
    return access(path.c_str(), X_OK) == 0 ? path : std::string();
}

struct RUN {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs the tool with exactly `env` as its environment; output goes through files in
// `scratch`, which must not be the folder under test.
inline RUN run_tool(const std::vector<std::string>& args, const std::vector<std::string>& env,
                    const std::string& scratch, mode_t umask_value = 022) {
    const std::string out_file = scratch + "stdout.txt";
    const std::string err_file = scratch + "stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        umask(umask_value);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(120);
        std::vector<char*> argv;
        const std::string tool = tool_path();
        argv.push_back(const_cast<char*>(tool.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execve(tool.c_str(), argv.data(), envp.data());
        _exit(121);
    }
    RUN run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = vorn_test::read_text(out_file);
    run.err = vorn_test::read_text(err_file);
    return run;
}

}  // namespace reliability_test

#endif
