// File services: file operations and their fault seam, paths, wildcard enumeration.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "host_fault.h"
#include "vorn_test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> find_all(const std::string& pattern, bool recursive = false) {
    FIO_FIND find(pattern, recursive);
    std::vector<std::string> names;
    for (std::string n = find.find_first(); !n.empty(); n = find.find_next()) names.push_back(n);
    return names;
}

TEST(HostFileSystem, OperationsAndTheirInjectedFailures) {
    HOST_FAULT::clear();
    vorn_test::TempDir dir;
    const std::string f = dir.file("a.xml");
    HOST_FAULT::fail_next(HOST_FAULT::TOUCH);
    EXPECT_FALSE(FIO_FILE_SYSTEM::touch(f));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(f));
    dir.write("a.xml", "<x/>");
    EXPECT_TRUE(FIO_FILE_SYSTEM::touch(f));
    EXPECT_EQ(dir.read("a.xml"), "<x/>");
    EXPECT_FALSE(FIO_FILE_SYSTEM::touch(dir.path() + "no/such/b.xml"));

    HOST_FAULT::fail_next(HOST_FAULT::CHMOD);
    EXPECT_FALSE(FIO_FILE_SYSTEM::chmod(f, 0600));
    ASSERT_TRUE(FIO_FILE_SYSTEM::chmod(f, 0600));
    EXPECT_EQ(fs::status(f).permissions(), fs::perms(0600));

    HOST_FAULT::fail_next(HOST_FAULT::REMOVE);
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove(f));
    HOST_FAULT::fail_next(HOST_FAULT::REMOVE_SURVIVES);
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(f) && FIO_FILE_SYSTEM::exists(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(f) && !FIO_FILE_SYSTEM::exists(f));
    EXPECT_TRUE(FIO_FILE_SYSTEM::remove(f));  // already gone
    EXPECT_FALSE(FIO_FILE_SYSTEM::remove(dir.path()));
    EXPECT_TRUE(FIO_FILE_SYSTEM::create_directories(dir.path() + "p/q"));
    EXPECT_TRUE(FIO_FILE_SYSTEM::is_directory(dir.path() + "p/q"));
    EXPECT_FALSE(FIO_FILE_SYSTEM::is_directory("") || FIO_FILE_SYSTEM::exists(""));
    dir.write("a.xml", "");
    EXPECT_FALSE(FIO_FILE_SYSTEM::create_directories(dir.path() + "a.xml/q"));
}

TEST(HostPath, SplitsLexicallyAndAnchorsRelativePaths) {
    FIO_PATH p("/a//b/./c/../pgm_flash_x.xml");
    EXPECT_EQ(p.file_name() + " " + p.fullpath(), "pgm_flash_x.xml /a/b/pgm_flash_x.xml");
    EXPECT_EQ(FIO_PATH("./xml/f.xml").fullpath(), (fs::current_path() / "xml/f.xml").string());
    // lexically_normal leaves a root of two slashes as it is.
    EXPECT_EQ(FIO_PATH("//").full_directory(), "/");
    EXPECT_EQ(FIO_PATH("//f.xml").fullpath(), "/f.xml");
}

TEST(HostFind, MatchingFilesInAscendingByteOrder) {
    vorn_test::TempDir dir;
    for (const char* n : {"pgm_flash_b.xml", "pgm_flash_A.xml", "pgm_flash_10.xml",
                          "pgm_flash_.xml", "other.xml", "pgm_flash_a.xml.bak", "sub/c.xml"})
        dir.write(n, "");
    fs::create_directories(dir.file("pgm_flash_dir.xml"));
    using NAMES = std::vector<std::string>;
    EXPECT_EQ(find_all(dir.path() + "pgm_flash_*.xml"),
              (NAMES{"pgm_flash_.xml", "pgm_flash_10.xml", "pgm_flash_A.xml", "pgm_flash_b.xml"}));
    EXPECT_EQ(find_all(dir.path() + "pgm_flash_?.xml"),
              (NAMES{"pgm_flash_A.xml", "pgm_flash_b.xml"}));
    EXPECT_EQ(find_all(dir.path() + "*a*b*"), (NAMES{"pgm_flash_a.xml.bak", "pgm_flash_b.xml"}));
    EXPECT_EQ(find_all(dir.path() + "c.xml", true), NAMES{"sub/c.xml"});
    EXPECT_TRUE(find_all(dir.path() + "nothing/*.xml").empty());
    FIO_FIND once(dir.path() + "other.xml", false);
    EXPECT_EQ(once.find_first() + once.find_next() + once.find_first(), "other.xmlother.xml");
}

// A change of several files goes through a journal: one that cannot be written fails the commit
// with nothing changed; a step that cannot be put in place once it is written is left whole to
// recovery, its temporary kept, and the next recovery finishes the step.
TEST(HostFolderChange, AJournalledChangeIsAllOrLeftToRecovery) {
    HOST_FAULT::clear();
    vorn_test::TempDir dir;
    // Writes two files in one change whose step `op` fails; the commit's answer.
    auto commit_failing_at = [&](HOST_FAULT::OP op) {
        FIO_FOLDER_CHANGE change(dir.path());
        EXPECT_TRUE(change.write(dir.file("pgm_flash_a.xml"), "a"));
        EXPECT_TRUE(change.write(dir.file("pgm_flash_b.xml"), "b"));
        HOST_FAULT::fail_next(op);
        return change.commit();
    };
    EXPECT_FALSE(commit_failing_at(HOST_FAULT::CHANGE_WRITE));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_TRUE(commit_failing_at(HOST_FAULT::CHANGE_APPLY)) << "the journal holds the change";
    EXPECT_FALSE(dir.exists("pgm_flash_a.xml"));
    EXPECT_EQ(dir.read("pgm_flash_b.xml"), "b");
    FIO_FOLDER_LOCK lock(dir.path(), true);
    FIO_FOLDER_CHANGE::recover_folder(dir.path());
    EXPECT_EQ(dir.read("pgm_flash_a.xml"), "a");
    EXPECT_EQ(dir.read("pgm_flash_b.xml"), "b");
}

}  // namespace
