// File services: file operations and their fault seam, paths, wildcard enumeration.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "host_fault.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;

namespace {

class HostFileSystem : public testing::Test {
  protected:
    HostFileSystem() { HOST_FAULT::clear(); }
    ~HostFileSystem() override { HOST_FAULT::clear(); }
    vorn_test::TempDir m_dir;
};

unsigned mode_of(const std::string& path) {
    struct stat st;
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

std::vector<std::string> find_all(const std::string& pattern, bool recursive = false) {
    FIO_FIND find(pattern, recursive);
    std::vector<std::string> names;
    for (std::string n = find.find_first(); !n.empty(); n = find.find_next()) names.push_back(n);
    return names;
}

TEST_F(HostFileSystem, TouchChmodRemove) {
    std::string f = m_dir.path() + "a.xml";
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(f));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(""));
    ASSERT_TRUE(FIO_FILE_SYSTEM::touch(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(f));
    EXPECT_FALSE(FIO_FILE_SYSTEM::is_directory(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::is_directory(m_dir.path()));

    // Touching an existing file keeps its content.
    m_dir.write("a.xml", "<x/>");
    EXPECT_TRUE(FIO_FILE_SYSTEM::touch(f));
    EXPECT_EQ(m_dir.read("a.xml"), "<x/>");
    EXPECT_FALSE(FIO_FILE_SYSTEM::touch(m_dir.path() + "no/such/dir/b.xml"));

    ASSERT_TRUE(FIO_FILE_SYSTEM::chmod(f, 0600));
    EXPECT_EQ(mode_of(f), 0600u);
    ASSERT_TRUE(FIO_FILE_SYSTEM::chmod(f, 0644));
    EXPECT_EQ(mode_of(f), 0644u);
    EXPECT_FALSE(FIO_FILE_SYSTEM::chmod(m_dir.path() + "missing", 0600));

    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(f));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(f));  // already gone
    // Folders are not files.
    fs::create_directories(m_dir.path() + "sub");
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove(m_dir.path() + "sub"));
    EXPECT_TRUE(fs::is_directory(m_dir.path() + "sub"));

    EXPECT_TRUE(FIO_FILE_SYSTEM::create_directories(m_dir.path() + "p/q/r"));
    EXPECT_TRUE(FIO_FILE_SYSTEM::is_directory(m_dir.path() + "p/q/r"));
    m_dir.write("plain", "x");
    EXPECT_FALSE(FIO_FILE_SYSTEM::create_directories(m_dir.path() + "plain/q"));
}

TEST_F(HostFileSystem, InjectedFailuresAreUsedUpInOrder) {
    std::string f = m_dir.path() + "f.xml";
    HOST_FAULT::fail_next(HOST_FAULT::TOUCH);
    EXPECT_FALSE(FIO_FILE_SYSTEM::touch(f));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::touch(f));

    HOST_FAULT::fail_next(HOST_FAULT::CHMOD, 2);
    EXPECT_EQ(HOST_FAULT::pending(HOST_FAULT::CHMOD), 2);
    EXPECT_FALSE(FIO_FILE_SYSTEM::chmod(f, 0600));
    EXPECT_FALSE(FIO_FILE_SYSTEM::chmod(f, 0600));
    EXPECT_TRUE(FIO_FILE_SYSTEM::chmod(f, 0600));

    HOST_FAULT::fail_next(HOST_FAULT::REMOVE);
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(f));

    HOST_FAULT::fail_next(HOST_FAULT::REMOVE_SURVIVES);
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::exists(f));

    HOST_FAULT::fail_next(HOST_FAULT::REMOVE, 3);
    HOST_FAULT::clear();
    EXPECT_EQ(HOST_FAULT::pending(HOST_FAULT::REMOVE), 0);
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(f));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(f));

    // A fault of one kind does not leak into another.
    HOST_FAULT::fail_next(HOST_FAULT::WRITE_XML);
    EXPECT_TRUE(FIO_FILE_SYSTEM::touch(f));
    EXPECT_TRUE(HOST_FAULT::take(HOST_FAULT::WRITE_XML));
    EXPECT_FALSE(HOST_FAULT::take(HOST_FAULT::WRITE_XML));
}

TEST(HostPath, SplitsAndRebuildsAsGiven) {
    FIO_PATH p("/a/b/pgm_flash_x.xml");
    EXPECT_EQ(p.file_name(), "pgm_flash_x.xml");
    EXPECT_EQ(p.full_directory(), "/a/b/");
    EXPECT_EQ(p.fullpath(), "/a/b/pgm_flash_x.xml");
    EXPECT_EQ(p.str(), "/a/b/pgm_flash_x.xml");
    p.set_file_name("pgm_flash_*.xml");
    EXPECT_EQ(p.str(), "/a/b/pgm_flash_*.xml");
    EXPECT_EQ(p.fullpath(), "/a/b/pgm_flash_*.xml");

    FIO_PATH dir("/a/b/");
    EXPECT_EQ(dir.file_name(), "");
    EXPECT_EQ(dir.fullpath(), "/a/b/");
    EXPECT_EQ(dir.str(), "/a/b/");
}

TEST(HostPath, NormalisesLexicallyAndAnchorsRelativePaths) {
    FIO_PATH messy("/a//b/./c/../x.xml");
    EXPECT_EQ(messy.full_directory(), "/a/b/");
    EXPECT_EQ(messy.fullpath(), "/a/b/x.xml");
    EXPECT_EQ(messy.str(), "/a//b/./c/../x.xml");

    std::string cwd = fs::current_path().string();
    if (cwd.back() != '/') cwd += '/';
    FIO_PATH rel("./xml/f.xml");
    EXPECT_EQ(rel.full_directory(), cwd + "xml/");
    EXPECT_EQ(rel.fullpath(), cwd + "xml/f.xml");
    FIO_PATH here("./");
    EXPECT_EQ(here.full_directory(), cwd);
    FIO_PATH bare("f.xml");
    EXPECT_EQ(bare.file_name(), "f.xml");
    EXPECT_EQ(bare.fullpath(), cwd + "f.xml");
    FIO_PATH empty;
    EXPECT_EQ(empty.full_directory(), cwd);
    // Nothing is resolved on disk: a folder without a trailing "/" is a file name.
    FIO_PATH no_slash("/tmp");
    EXPECT_EQ(no_slash.file_name(), "tmp");
    EXPECT_EQ(no_slash.full_directory(), "/");
}

TEST(HostFind, MatchingFilesInAscendingByteOrder) {
    vorn_test::TempDir dir;
    for (const char* n : {"pgm_flash_b.xml", "pgm_flash_A.xml", "pgm_flash_a.xml",
                          "pgm_flash_10.xml", "pgm_flash_2.xml", "pgm_flash_.xml",
                          "pgm_flash_db_qspi.xml", "other.xml", "pgm_flash_a.xml.bak"})
        dir.write(n, "");
    fs::create_directories(dir.path() + "pgm_flash_dir.xml");
    EXPECT_EQ(find_all(dir.path() + "pgm_flash_*.xml"),
              (std::vector<std::string>{"pgm_flash_.xml", "pgm_flash_10.xml", "pgm_flash_2.xml",
                                        "pgm_flash_A.xml", "pgm_flash_a.xml", "pgm_flash_b.xml",
                                        "pgm_flash_db_qspi.xml"}));
    EXPECT_EQ(find_all(dir.path() + "pgm_flash_?.xml"),
              (std::vector<std::string>{"pgm_flash_2.xml", "pgm_flash_A.xml", "pgm_flash_a.xml",
                                        "pgm_flash_b.xml"}));
    EXPECT_EQ(find_all(dir.path() + "other.xml"), std::vector<std::string>{"other.xml"});
    EXPECT_EQ(find_all(dir.path() + "*a*b*"),
              (std::vector<std::string>{"pgm_flash_a.xml.bak", "pgm_flash_b.xml",
                                        "pgm_flash_db_qspi.xml"}));
}

TEST(HostFind, MissingFolderAndExhaustedFinder) {
    vorn_test::TempDir dir;
    EXPECT_TRUE(find_all(dir.path() + "nothing/pgm_flash_*.xml").empty());
    EXPECT_TRUE(find_all(dir.path()).empty());

    dir.write("one.xml", "");
    FIO_FIND find(dir.path() + "*.xml", false);
    EXPECT_EQ(find.find_first(), "one.xml");
    EXPECT_EQ(find.find_next(), "");
    EXPECT_EQ(find.find_next(), "");
    EXPECT_EQ(find.find_first(), "one.xml");
}

TEST(HostFind, RecursiveListsSubfolderFilesRelatively) {
    vorn_test::TempDir dir;
    dir.write("b.xml", "");
    dir.write("sub/a.xml", "");
    dir.write("sub/deeper/c.xml", "");
    dir.write("sub/skip.txt", "");
    EXPECT_EQ(find_all(dir.path() + "*.xml", true),
              (std::vector<std::string>{"b.xml", "sub/a.xml", "sub/deeper/c.xml"}));
    EXPECT_EQ(find_all(dir.path() + "*.xml", false), std::vector<std::string>{"b.xml"});
}

}  // namespace
