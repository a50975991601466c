// Fixtures shared by the test suites.
#ifndef VORN_TEST_SUPPORT_H
#define VORN_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "pgm_host.h"

namespace vorn_test {

// A fresh directory under the system temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Absolute path ending with "/".
    const std::string& path() const { return m_path; }
    // path() + relative; parent folders are created.
    std::string file(const std::string& relative) const;
    void write(const std::string& relative, const std::string& content) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

  private:
    std::string m_path;
};

// Collects every message and trace posted while it lives, then restores the previous sink.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    const std::vector<MSG_RECORD>& records() const { return m_records; }
    // Errors and warnings only (no traces).
    std::vector<MSG_RECORD> messages() const;
    std::vector<unsigned> message_ids() const;
    std::vector<std::string> traces() const;
    size_t count_id(unsigned id) const;
    void clear() { m_records.clear(); }

  private:
    std::vector<MSG_RECORD> m_records;
    MSG_SINK m_previous;
};

// A temporary programmer directory holding a copy of the shipped data/ tree (xml/, xsd/,
// dev/), made the host's programmer directory for its lifetime. Switch overrides are cleared
// on entry and exit.
class ProgrammerDir {
  public:
    ProgrammerDir();
    ~ProgrammerDir();
    const std::string& path() const { return m_dir.path(); }
    std::string file(const std::string& relative) const { return m_dir.file(relative); }
    void write(const std::string& relative, const std::string& content) const {
        m_dir.write(relative, content);
    }

  private:
    TempDir m_dir;
};

// Runs `fn`, which must end in an internal error, and returns that error.
template <typename F>
VORN_INTERNAL_ERROR internal_error_of(F fn) {
    try {
        fn();
    } catch (const VORN_INTERNAL_ERROR& e) {
        return e;
    }
    ADD_FAILURE() << "no internal error";
    return VORN_INTERNAL_ERROR("", "", "", 0);
}

// A forked process that runs `work` and exits with what it returns; a gated one starts only at
// go(). wait() gives the exit code, or 128 + the signal that ended it.
class Child {
  public:
    explicit Child(const std::function<int()>& work, bool gated = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    bool go();
    int wait();

  private:
    pid_t m_pid = -1;
    int m_go[2] = {-1, -1};
};

// An SD/MMC document holding one device per card.
struct CARD {
    std::string name, io_voltage, density;
};
std::string sdmmc_document(const std::vector<CARD>& cards);

// Names in a folder matching a shell pattern, sorted; none when it cannot be read.
std::vector<std::string> entries(const std::string& dir, const char* pattern);

// Text of any file; empty when it cannot be read.
std::string read_text(const std::string& path);

// Text of a file in tests/files/.
std::string read_test_file(const std::string& name);

// The rows of a tab-separated table in tests/files/, blank and '#' lines left out, each padded
// to `columns` fields; `line` is its line number in the file.
struct TABLE_ROW {
    int line;
    std::vector<std::string> fields;
};
std::vector<TABLE_ROW> read_table(const std::string& name, size_t columns);

}  // namespace vorn_test

#endif
