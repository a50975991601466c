// The manager base saving and deleting devices and user templates in the two database
// directories: files on disk, the maps, traces, and every failure path.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <memory>

#include "host_fault.h"
#include "test_mgr_double.h"
#include "vorn.h"
#include "vorn_test_support.h"

using vorn_test::MessageCapture;
using vorn_test::names_in_file;
using vorn_test::TEST_MGR;

using vorn_test::internal_error_of;

namespace {

// Everything the maps say, to compare before and after an operation.
struct MAPS {
    std::map<std::string, VORN_FLASH*> flash;
    std::map<std::string, std::string> zentro, custom, active, templates;
    std::vector<std::string> template_names;
    explicit MAPS(const VORN_MGR& m)
        : flash(m.get_flash_map()),
          zentro(m.get_zentro_dir_map()),
          custom(m.get_custom_dir_map()),
          active(m.get_flash_db_active_dir_map()),
          templates(m.get_template_db_dir_map()) {
        for (const auto& e : m.get_user_flash_template_map()) template_names.push_back(e.first);
    }
    bool operator==(const MAPS& o) const {
        return flash == o.flash && zentro == o.zentro && custom == o.custom && active == o.active &&
               templates == o.templates && template_names == o.template_names;
    }
};

std::string read_file(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return "<missing>";
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    fclose(f);
    return text;
}

unsigned mode_of(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 0777;
}

}  // namespace

class MgrFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        HOST_FAULT::clear();
        VORN_MGR::set_db_custom_dir(m_custom.path());
        custom = FIO_PATH(VORN_MGR::get_db_custom_dir()).full_directory();
        zentro = FIO_PATH(VORN_MGR::get_db_zentro_dir()).full_directory();
    }
    void TearDown() override {
        HOST_FAULT::clear();
        VORN_MGR::set_db_custom_dir("");
    }

    // A fresh record from the manager, as a host makes one.
    VORN_FLASH* make(const std::string& name, const std::string& density = "512Mb") {
        VORN_FLASH* flash = mgr.create_flash(name);
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, "1.8V");
        flash->set_density(density);
        return flash;
    }

    // Three devices and a template sharing one custom file.
    std::string seed_bundle() {
        mgr.add("d1", "1.8V");
        mgr.add("d2", "1.8V", "1024Mb");
        mgr.add("d3", "3.0V/3.3V");
        mgr.add_template("t1");
        std::string file = custom + "pgm_flash_bundle.xml";
        mgr.place(file, {"d1", "d2", "d3"}, {"t1"}, true);
        return file;
    }

    // The traces among `wanted` in the order they were written.
    std::vector<std::string> traces_among(const std::vector<std::string>& wanted) const {
        std::vector<std::string> out;
        for (const std::string& t : capture.traces())
            for (const std::string& w : wanted)
                if (t == w) out.push_back(t);
        return out;
    }

    std::string failed_text() const {
        return "Failed to update the device database in the " + custom + " directory.";
    }

    vorn_test::ProgrammerDir m_prog;
    vorn_test::TempDir m_custom;
    std::string custom;
    std::string zentro;
    TEST_MGR mgr;
    MessageCapture capture;
};

// ---- saving -------------------------------------------------------------------------------

TEST_F(MgrFiles, SavingANewDeviceWritesItsOwnFile) {
    VORN_FLASH* abc = make("abc");
    ASSERT_TRUE(mgr.update_db(abc, custom));
    std::string file = custom + "pgm_flash_abc.xml";
    EXPECT_EQ(names_in_file(file), std::vector<std::string>{"abc"});
    EXPECT_EQ(mgr.get_custom_dir_map().at("abc"), file);
    EXPECT_EQ(mgr.get_flash_db_active_dir_map().at("abc"), file);
    EXPECT_EQ(mgr.get_flash_map().at("abc"), abc);
    EXPECT_EQ(mgr.get_zentro_dir_map().count("abc"), 0u);
    EXPECT_EQ(abc->get_db_dir(), custom);
    EXPECT_TRUE(abc->get_flash_removable_permission());
    EXPECT_TRUE(capture.messages().empty());

    EXPECT_EQ(traces_among({"Entering VORN_MGR::update_db with flash device_name = abc",
                            "db_dir.c_str() = " + custom, "Touch new XML file, " + file,
                            "Deleting old XML file " + file, "Writing new XML file, " + file,
                            "Before: db_dir_map->size() = 0", "Before: m_flash_map.size() = 0",
                            "After: db_dir_map->size() = 1", "After: m_flash_map.size() = 1"}),
              (std::vector<std::string>{
                  "Entering VORN_MGR::update_db with flash device_name = abc",
                  "db_dir.c_str() = " + custom, "Touch new XML file, " + file,
                  "Deleting old XML file " + file, "Writing new XML file, " + file,
                  "Before: db_dir_map->size() = 0", "Before: m_flash_map.size() = 0",
                  "After: db_dir_map->size() = 1", "After: m_flash_map.size() = 1"}));
    EXPECT_TRUE(capture.has_trace("zentro_dir.full_directory().c_str() = " + zentro));
    EXPECT_TRUE(capture.has_trace("custom_dir.full_directory().c_str() = " + custom));
}

TEST_F(MgrFiles, SavingIntoTheZentroDirectoryUsesItsMap) {
    ASSERT_TRUE(mgr.update_db(make("zdev"), zentro));
    EXPECT_EQ(mgr.get_zentro_dir_map().at("zdev"), zentro + "pgm_flash_zdev.xml");
    EXPECT_EQ(mgr.get_custom_dir_map().count("zdev"), 0u);
    EXPECT_TRUE(m_prog.exists("xml/pgm_flash_zdev.xml"));
}

TEST_F(MgrFiles, SavingAgainReplacesTheFile) {
    ASSERT_TRUE(mgr.update_db(make("abc", "512Mb"), custom));
    std::string file = custom + "pgm_flash_abc.xml";
    std::string first = read_file(file);

    capture.clear();
    VORN_FLASH* second = make("abc", "2048Mb");
    ASSERT_TRUE(mgr.update_db(second, custom));
    EXPECT_NE(read_file(file), first);
    EXPECT_NE(read_file(file).find("2048Mb"), std::string::npos);
    EXPECT_EQ(mgr.get_flash_map().at("abc"), second);
    EXPECT_EQ(mgr.get_flash_map().size(), 1u);
    EXPECT_TRUE(capture.has_trace("Entering VORN_MGR::delete_db with device_name = abc"));
    EXPECT_TRUE(capture.has_trace("Deleting XML file " + file));
    EXPECT_TRUE(capture.has_trace("Touch new XML file, " + file));
}

TEST_F(MgrFiles, SavingTheHeldRecordAgainKeepsIt) {
    ASSERT_TRUE(mgr.update_db(make("abc"), custom));
    VORN_FLASH* held = mgr.get_flash("abc", true);
    ASSERT_NE(held, nullptr);
    held->set_density("1024Mb");
    ASSERT_TRUE(mgr.update_db(held, custom));
    EXPECT_EQ(mgr.get_flash_map().at("abc"), held);
    EXPECT_EQ(held->get_density(), "1024Mb");
    EXPECT_NE(read_file(custom + "pgm_flash_abc.xml").find("1024Mb"), std::string::npos);
}

TEST_F(MgrFiles, SavingToTheCustomDirectoryKeepsTheZentroCopy) {
    mgr.add("shared", "1.8V");
    std::string zfile = zentro + "pgm_flash_shared_z.xml";
    mgr.place(zfile, {"shared"}, {}, false);
    std::string zcontent = read_file(zfile);

    VORN_FLASH* mine = make("shared", "2048Mb");
    ASSERT_TRUE(mgr.update_db(mine, custom));
    EXPECT_EQ(mgr.get_zentro_dir_map().at("shared"), zfile);
    EXPECT_EQ(mgr.get_custom_dir_map().at("shared"), custom + "pgm_flash_shared.xml");
    EXPECT_EQ(mgr.get_flash_db_active_dir_map().at("shared"), custom + "pgm_flash_shared.xml");
    EXPECT_EQ(mgr.get_flash_map().at("shared"), mine);
    EXPECT_EQ(read_file(zfile), zcontent);

    // The active copy lives in the custom directory now: deleting from Zentro is refused.
    VORN_INTERNAL_ERROR e = internal_error_of([&] { mgr.delete_db("shared", zentro); });
    EXPECT_STREQ(e.what(),
                 "Found same flash exist in the current directory but attempting to delete the "
                 "flash in zentro directory.");
    EXPECT_EQ(e.file(), "pgm/vorn/vorn_mgr");
}

TEST_F(MgrFiles, TemplateNameHandsOverToTheTemplateUpdate) {
    VORN_FLASH* plain = make("plain");
    ASSERT_TRUE(mgr.update_db(plain, custom));
    EXPECT_TRUE(mgr.template_updates.empty());

    VORN_FLASH* with = make("with");
    with->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, "my_tpl");
    mgr.template_update_result = false;
    EXPECT_FALSE(mgr.update_db(with, custom)) << "the template result is the result";
    EXPECT_EQ(mgr.template_updates, std::vector<std::string>{"my_tpl@" + custom});
    EXPECT_EQ(mgr.get_flash_map().at("with"), with) << "the device itself was saved";
}

TEST_F(MgrFiles, BrokenArgumentsAreInternalErrors) {
    EXPECT_STREQ(internal_error_of([&] { mgr.update_db(nullptr, custom); }).what(), "flash");
    EXPECT_STREQ(internal_error_of([&] { mgr.update_db(make("x"), ""); }).what(),
                 "!db_dir.empty()");
    EXPECT_EQ(mgr.get_current_flash(), nullptr) << "the refused record was deleted";
    EXPECT_STREQ(internal_error_of([&] { mgr.update_db(make("y"), m_prog.path()); }).what(),
                 "db_is_zentro_dir || db_is_custom_dir");
    EXPECT_STREQ(internal_error_of([&] { mgr.delete_db("", custom); }).what(),
                 "!device_name.empty()");
    EXPECT_STREQ(internal_error_of([&] { mgr.delete_db("y", ""); }).what(), "!db_dir.empty()");
    EXPECT_STREQ(internal_error_of([&] { mgr.delete_db("y", custom + "sub/"); }).what(),
                 "db_is_zentro_dir || db_is_custom_dir");
    EXPECT_STREQ(internal_error_of([&] {
                     mgr.write_flash_xml_and_update_dir_map(nullptr, custom, nullptr);
                 }).what(),
                 "flash");
    EXPECT_TRUE(mgr.get_flash_map().empty());
}

TEST_F(MgrFiles, WriterRejectionLeavesEverythingAsItWas) {
    ASSERT_TRUE(mgr.update_db(make("abc"), custom));
    std::string file = custom + "pgm_flash_abc.xml";
    std::string content = read_file(file);
    MAPS before(mgr);

    EXPECT_STREQ(internal_error_of([&] { mgr.update_db(make("abc", "reject"), custom); }).what(),
                 "writer rejects the record");
    EXPECT_TRUE(MAPS(mgr) == before);
    EXPECT_EQ(read_file(file), content);

    EXPECT_STREQ(internal_error_of([&] { mgr.update_db(make("new", "reject"), custom); }).what(),
                 "writer rejects the record");
    EXPECT_TRUE(MAPS(mgr) == before);
    EXPECT_FALSE(m_custom.exists("pgm_flash_new.xml"));
}

// ---- deleting -----------------------------------------------------------------------------

TEST_F(MgrFiles, DeletingOneOfFourRewritesTheOthersInOrder) {
    std::string file = seed_bundle();
    VORN_FLASH* d1 = mgr.get_flash_map().at("d1");
    ASSERT_TRUE(mgr.delete_db("d2", custom));
    EXPECT_EQ(names_in_file(file), (std::vector<std::string>{"d1", "d3", "template:t1"}));
    EXPECT_EQ(mgr.get_custom_dir_map().count("d2"), 0u);
    EXPECT_EQ(mgr.get_flash_db_active_dir_map().count("d2"), 0u);
    EXPECT_EQ(mgr.get_flash_map().count("d2"), 0u);
    EXPECT_EQ(mgr.get_custom_dir_map().at("d1"), file);
    EXPECT_EQ(mgr.get_custom_dir_map().at("d3"), file);
    EXPECT_EQ(mgr.get_template_db_dir_map().at("t1"), file);
    EXPECT_EQ(mgr.get_flash_map().at("d1"), d1);

    EXPECT_EQ(
        traces_among({"Entering VORN_MGR::delete_db with device_name = d2", "Found flash name = d1",
                      "Found flash name = d3", "Found template name = t1",
                      "Deleting XML file " + file, "Before: m_flash_map.size() = 3",
                      "After: m_flash_map.size() = 2", "Writing XML file, " + file}),
        (std::vector<std::string>{"Entering VORN_MGR::delete_db with device_name = d2",
                                  "Found flash name = d1", "Found flash name = d3",
                                  "Found template name = t1", "Deleting XML file " + file,
                                  "Before: m_flash_map.size() = 3", "After: m_flash_map.size() = 2",
                                  "Writing XML file, " + file}));
}

TEST_F(MgrFiles, DeletingATemplateKeepsTheDevicesOfItsFile) {
    std::string file = seed_bundle();
    ASSERT_TRUE(mgr.delete_db("t1", custom));
    EXPECT_EQ(names_in_file(file), (std::vector<std::string>{"d1", "d2", "d3"}));
    EXPECT_TRUE(mgr.get_user_flash_template_map().empty());
    EXPECT_TRUE(mgr.get_template_db_dir_map().empty());
    EXPECT_TRUE(capture.has_trace("Before: m_user_flash_template_map->size() = 1"));
    EXPECT_TRUE(capture.has_trace("After: m_template_db_dir_map.size() = 0"));
}

TEST_F(MgrFiles, DeletingTheLastEntryRemovesTheFile) {
    mgr.add("solo", "1.8V");
    std::string file = custom + "pgm_flash_solo.xml";
    mgr.place(file, {"solo"}, {}, true);
    ASSERT_NE(mgr.get_flash("solo", true), nullptr);
    ASSERT_TRUE(mgr.delete_db("solo", custom));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(file));
    EXPECT_TRUE(mgr.get_flash_map().empty());
    EXPECT_EQ(mgr.get_current_flash(), nullptr) << "the current record was the deleted one";
    for (const std::string& t : capture.traces())
        EXPECT_EQ(t.rfind("Writing XML file", 0), std::string::npos) << t;
}

TEST_F(MgrFiles, ReadOnlyFileIsRemovedAndAFailedRemovalKeepsItsMode) {
    mgr.add("ro", "1.8V");
    std::string file = custom + "pgm_flash_ro.xml";
    mgr.place(file, {"ro"}, {}, true);
    ASSERT_TRUE(FIO_FILE_SYSTEM::chmod(file, 0444));
    HOST_FAULT::fail_next(HOST_FAULT::CHANGE_COMMIT);
    EXPECT_FALSE(mgr.delete_db("ro", custom));
    EXPECT_EQ(mode_of(file), 0444u);
    EXPECT_TRUE(mgr.delete_db("ro", custom));
    EXPECT_FALSE(FIO_FILE_SYSTEM::exists(file));
}

TEST_F(MgrFiles, UnknownNamesAndOtherDirectoriesChangeNothing) {
    std::string file = seed_bundle();
    mgr.add("elsewhere", "1.8V");
    mgr.place(zentro + "pgm_flash_elsewhere.xml", {"elsewhere"}, {}, false);
    std::string content = read_file(file);
    MAPS before(mgr);
    capture.clear();
    EXPECT_TRUE(mgr.delete_db("nobody", custom));
    EXPECT_TRUE(mgr.delete_db("nobody", zentro));
    EXPECT_TRUE(mgr.delete_db("elsewhere", custom)) << "its copy lives in the Zentro directory";
    EXPECT_TRUE(MAPS(mgr) == before);
    EXPECT_EQ(read_file(file), content);
    EXPECT_TRUE(m_prog.exists("xml/pgm_flash_elsewhere.xml"));
    EXPECT_TRUE(capture.messages().empty());
    for (const std::string& t : capture.traces())
        EXPECT_EQ(t.rfind("Deleting XML file", 0), std::string::npos) << t;
}

TEST_F(MgrFiles, BrokenMapsStopTheDeletionBeforeAnythingChanges) {
    std::string file = seed_bundle();
    std::string content = read_file(file);
    mgr.forget_record("d3");
    MAPS before(mgr);
    EXPECT_STREQ(internal_error_of([&] { mgr.delete_db("d1", custom); }).what(),
                 "iter != m_flash_map.end()");
    EXPECT_TRUE(MAPS(mgr) == before);
    EXPECT_EQ(read_file(file), content);

    mgr.add("gone", "1.8V");
    mgr.place(custom + "pgm_flash_gone.xml", {"gone"}, {}, true);
    ASSERT_TRUE(FIO_FILE_SYSTEM::remove(custom + "pgm_flash_gone.xml"));
    MAPS before_gone(mgr);
    EXPECT_STREQ(internal_error_of([&] { mgr.delete_db("gone", custom); }).what(),
                 "FIO_FILE_SYSTEM::exists(file_to_delete.c_str())");
    EXPECT_TRUE(MAPS(mgr) == before_gone);
}

// ---- failures -----------------------------------------------------------------------------

struct FAULT_CASE {
    HOST_FAULT::OP op;
    const char* name;
};

class MgrFileFaults : public MgrFiles, public ::testing::WithParamInterface<FAULT_CASE> {};

TEST_P(MgrFileFaults, NewDeviceIsNotSaved) {
    MAPS before(mgr);
    HOST_FAULT::fail_next(GetParam().op);
    VORN_FLASH* flash = make("fresh");
    EXPECT_FALSE(mgr.update_db(flash, custom));
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20560});
    EXPECT_EQ(capture.messages().at(0).text, failed_text());
    EXPECT_TRUE(MAPS(mgr) == before);
    EXPECT_EQ(mgr.get_current_flash(), nullptr) << "the unsaved record was released";
    EXPECT_FALSE(m_custom.exists("pgm_flash_fresh.xml")) << "no placeholder is left";
    EXPECT_TRUE(capture.has_trace("Deleting old XML file " + custom + "pgm_flash_fresh.xml"));
}

TEST_P(MgrFileFaults, ResavedDeviceKeepsItsOldCopy) {
    ASSERT_TRUE(mgr.update_db(make("abc", "512Mb"), custom));
    std::string file = custom + "pgm_flash_abc.xml";
    std::string content = read_file(file);
    VORN_FLASH* old = mgr.get_flash("abc", true);
    MAPS before(mgr);

    capture.clear();
    HOST_FAULT::fail_next(GetParam().op);
    EXPECT_FALSE(mgr.update_db(make("abc", "2048Mb"), custom));
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20560});
    EXPECT_EQ(read_file(file), content);
    ASSERT_TRUE(MAPS(mgr) == before);
    EXPECT_EQ(old->get_density(), "512Mb");
}

TEST_P(MgrFileFaults, SharedFileKeepsAllItsEntries) {
    std::string file = seed_bundle();
    std::string content = read_file(file);
    MAPS before(mgr);
    HOST_FAULT::fail_next(GetParam().op);
    EXPECT_FALSE(mgr.delete_db("d2", custom));
    EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20560});
    EXPECT_EQ(capture.messages().at(0).text, failed_text());
    EXPECT_TRUE(MAPS(mgr) == before);
    EXPECT_EQ(read_file(file), content);
}

INSTANTIATE_TEST_SUITE_P(EachFault, MgrFileFaults,
                         ::testing::Values(FAULT_CASE{HOST_FAULT::CHANGE_WRITE, "write"},
                                           FAULT_CASE{HOST_FAULT::CHANGE_COMMIT, "commit"}),
                         [](const ::testing::TestParamInfo<FAULT_CASE>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(MgrFiles, ResavingTheHeldRecordSurvivesAFailedWrite) {
    ASSERT_TRUE(mgr.update_db(make("abc"), custom));
    VORN_FLASH* held = mgr.get_flash("abc", true);
    HOST_FAULT::fail_next(HOST_FAULT::CHANGE_WRITE);
    EXPECT_FALSE(mgr.update_db(held, custom));
    EXPECT_EQ(mgr.get_flash_map().at("abc"), held);
    EXPECT_EQ(names_in_file(custom + "pgm_flash_abc.xml"), std::vector<std::string>{"abc"});
}
