// The host API: drafts, lookups by the bytes read (also from several threads), checked saves
// and deletes that answer host mistakes with reasons rather than internal errors.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host_fault.h"
#include "test_qspi_fixture.h"

namespace {

using qspi_test::QspiTest;
using qspi_test::text_of;

std::vector<std::string> find(const VORN_MGR& mgr, std::vector<unsigned char> bytes,
                              bool active_family_only = false) {
    std::vector<std::string> names;
    for (const VORN_FLASH* record :
         vorn_find_flash_by_id(&mgr, bytes.data(), bytes.size(), active_family_only))
        names.push_back(record->get_name());
    return names;
}

bool mentions(const VORN_HOST_RESULT& result, const std::string& text) {
    for (const std::string& problem : result.problems)
        if (problem.find(text) != std::string::npos) return true;
    return false;
}

// A complete new QSPI draft of the Winbond template.
VORN_FLASH* new_draft(VORN_MGR& mgr, const std::string& name, const std::string& id) {
    return qspi_test::complete_record(mgr, mgr.create_flash(name), VORN_PROG_FLOW_TEMPLATE_WINBOND,
                                      id, "3.0V/3.3V", "32Mb");
}

DEV_FAMILY_ENUM family_of_voltage(const VORN_MGR& mgr, const std::string& voltage) {
    for (const auto& entry : mgr.get_dev_info_map())
        if (entry.second.io_voltage == voltage) return entry.first;
    return DEV_FAMILY_NONE;
}

// ---- drafts ------------------------------------------------------------------------------

TEST_F(QspiTest, DraftOfAStoredRecordIsADeepCopyThatLeavesTheRecordAlone) {
    auto mgr = load();
    const VORN_FLASH* stored = mgr->get_flash_map().at("W25Q128JV");
    const std::string stored_text = text_of(*mgr, stored);
    VORN_FLASH* draft = vorn_make_draft(stored);
    ASSERT_NE(draft, nullptr);
    // The written form holds every value and action of both flows.
    EXPECT_EQ(text_of(*mgr, draft), stored_text);
    EXPECT_EQ(draft->get_db_dir(), stored->get_db_dir());
    draft->set_density("64Mb");
    draft->set_parameter_value(VORN_FLASH_PARAM_ID, "0x01 0x02");
    draft->get_operation_list(VORN_PROG_FLOW_TYPE_SFL)
        ->at(0)
        ->get_action_list()
        ->at(0)
        ->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_COMMAND, "0x04");
    draft->clear_operation_list();
    EXPECT_EQ(text_of(*mgr, stored), stored_text);
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), draft));
    EXPECT_EQ(mgr->get_flash_map().at("W25Q128JV"), stored);
}

TEST_F(QspiTest, DiscardingADraftClearsTheManagersReferenceAndSparesStoredRecords) {
    auto mgr = load();
    VORN_FLASH* draft = mgr->create_flash("DRAFT1");
    ASSERT_EQ(mgr->get_current_flash(), draft);
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), draft));
    EXPECT_EQ(mgr->get_current_flash(), nullptr);
    // The next lookup starts from a manager that no longer points at the freed draft.
    VORN_FLASH* stored = mgr->get_flash("W25Q128JV", true);
    EXPECT_NE(stored, nullptr);
    EXPECT_FALSE(vorn_discard_draft(mgr.get(), stored));
    EXPECT_EQ(mgr->get_flash_map().at("W25Q128JV"), stored);
    EXPECT_EQ(mgr->get_current_flash(), stored);
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), nullptr));
    EXPECT_EQ(vorn_make_draft(nullptr), nullptr);
}

// ---- lookups -----------------------------------------------------------------------------

TEST_F(QspiTest, LookupByBytesFindsEveryPartComparedOverItsOwnIdLength) {
    auto mgr = load();
    const std::vector<std::string> both = {"W25Q128FV", "W25Q128JV"};
    EXPECT_EQ(find(*mgr, {0xEF, 0x40, 0x18}), both);
    // A host that read a fourth byte still finds the parts stored with three.
    EXPECT_EQ(find(*mgr, {0xEF, 0x40, 0x18, 0x4D}), both);
    // Too few bytes to tell, or a different byte anywhere: nothing.
    EXPECT_TRUE(find(*mgr, {0xEF, 0x40}).empty());
    EXPECT_TRUE(find(*mgr, {0xEF, 0x41, 0x18}).empty());
    EXPECT_TRUE(find(*mgr, {0xEE, 0x40, 0x18}).empty());
    EXPECT_TRUE(vorn_find_flash_by_id(mgr.get(), nullptr, 3, false).empty());
    EXPECT_TRUE(vorn_find_flash_by_id(nullptr, nullptr, 0, false).empty());
}

TEST_F(QspiTest, LookupByBytesFiltersByTheActiveFamilyAndLeavesTheCurrentRecordAlone) {
    auto mgr = load();
    const DEV_FAMILY_ENUM low = family_of_voltage(*mgr, "1.8V");
    const DEV_FAMILY_ENUM high = family_of_voltage(*mgr, "3.0V/3.3V");
    ASSERT_NE(low, DEV_FAMILY_NONE);
    ASSERT_NE(high, DEV_FAMILY_NONE);
    VORN_FLASH* current = mgr->get_flash("MT25QL01G", true);
    ASSERT_NE(current, nullptr);

    const std::vector<unsigned char> w = {0xEF, 0x60, 0x18};
    const std::vector<std::string> low_parts = {"W25Q128FW"};
    mgr->set_active_device_family(low);
    EXPECT_EQ(find(*mgr, w, true), low_parts);
    mgr->set_active_device_family(high);
    EXPECT_TRUE(find(*mgr, w, true).empty());
    EXPECT_EQ(find(*mgr, w, false), low_parts);
    EXPECT_EQ(find(*mgr, {0xEF, 0x40, 0x18}, true).size(), 2u);
    EXPECT_EQ(mgr->get_current_flash(), current);
}

TEST_F(QspiTest, LookupsByBytesFromSeveralThreadsAgreeWithOneThread) {
    // Every stored ID, and the answer one thread gets for it, from a manager of its own: the
    // threads then meet records nobody has read yet, where a lazily filled cache would race.
    auto reference = load();
    std::vector<std::vector<unsigned char>> reads;
    std::vector<std::vector<std::string>> expected;
    for (const auto& entry : reference->get_flash_map()) {
        unsigned int count = 0;
        bool ok = false;
        std::unique_ptr<unsigned char[]> bytes(VORN_MGR::convert_data_list_string_to_byte_array(
            entry.second->get_parameter_value(VORN_FLASH_PARAM_ID), &count, &ok));
        ASSERT_TRUE(ok);
        reads.emplace_back(bytes.get(), bytes.get() + count);
        expected.push_back(find(*reference, reads.back()));
        ASSERT_FALSE(expected.back().empty());
    }
    auto mgr = load();
    const VORN_MGR& shared = *mgr;
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const size_t i = static_cast<size_t>(round * 7 + t) % reads.size();
                if (find(shared, reads[i]) != expected[i]) ++wrong[static_cast<size_t>(t)];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// ---- checked saves -------------------------------------------------------------------------

TEST_F(QspiTest, CheckedSaveTakesTheFolderAnyWayItIsSpelledAndKeepsTheDraftTheHosts) {
    auto mgr = load();
    VORN_FLASH* draft = new_draft(*mgr, "HOSTPART1", "0xEF 0xAA 0x16");
    std::string dir = custom.path();
    ASSERT_EQ(dir.back(), '/');
    dir.pop_back();
    VORN_HOST_RESULT saved = vorn_save_flash(mgr.get(), draft, dir);
    ASSERT_TRUE(saved.ok) << (saved.problems.empty() ? "" : saved.problems[0]);
    EXPECT_TRUE(saved.problems.empty());
    EXPECT_EQ(saved.file, custom.file("pgm_flash_HOSTPART1.xml"));
    EXPECT_TRUE(custom.exists("pgm_flash_HOSTPART1.xml"));
    const VORN_FLASH* stored = mgr->get_flash_map().at("HOSTPART1");
    EXPECT_NE(stored, draft);
    EXPECT_EQ(stored->get_parameter_value(VORN_FLASH_PARAM_ID), "0xEF 0xAA 0x16");

    // The draft, edited further, saves again over the stored copy.
    draft->set_density("64Mb");
    saved = vorn_save_flash(mgr.get(), draft, custom.path() + "./");
    ASSERT_TRUE(saved.ok);
    EXPECT_EQ(mgr->get_flash_map().at("HOSTPART1")->get_density(), "64Mb");
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), draft));

    // A fresh manager reads back what was saved.
    auto again = load();
    ASSERT_EQ(again->get_flash_map().count("HOSTPART1"), 1u);
    EXPECT_EQ(again->get_flash_map().at("HOSTPART1")->get_density(), "64Mb");
}

TEST_F(QspiTest, CheckedSaveRefusesHostMistakesWithReasonsAndWritesNothing) {
    auto mgr = load();
    vorn_test::MessageCapture capture;
    VORN_FLASH* draft = new_draft(*mgr, "HOSTPART2", "0xEF 0xAA 0x16");
    draft->set_density("32MB");
    draft->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 0u);
    VORN_HOST_RESULT result = vorn_save_flash(mgr.get(), draft, custom.path());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.problems, (std::vector<std::string>{"Device density '32MB' is invalid.",
                                                         "Total device die '0' is invalid."}));
    EXPECT_GT(capture.count_id(20478), 0u);
    draft->set_density("32Mb");
    draft->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 1u);

    result = vorn_save_flash(mgr.get(), draft, "/nonexistent/elsewhere");
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(mentions(result, "is neither the custom directory")) << result.problems[0];
    result = vorn_save_flash(mgr.get(), draft, "");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(mgr->get_flash_map().count("HOSTPART2"), 0u);

    // A stored record is the manager's: a save of it would free what the host holds.
    result = vorn_save_flash(mgr.get(), mgr->get_flash_map().at("W25Q128JV"), custom.path());
    EXPECT_TRUE(mentions(result, "vorn_make_draft"));
    // A built-in device is not replaced by a user one.
    VORN_FLASH* builtin = vorn_make_draft(mgr->get_flash_map().at("W25Q128JV"));
    result = vorn_save_flash(mgr.get(), builtin, custom.path());
    EXPECT_TRUE(mentions(result, "is built in"));
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), builtin));
    // A new name that a validator refuses.
    draft->set_name("BAD-NAME");
    result = vorn_save_flash(mgr.get(), draft, custom.path());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.problems.size(), 1u);
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), draft));
    EXPECT_TRUE(vorn_find_flash_by_id(mgr.get(),
                                      std::vector<unsigned char>{0xEF, 0xAA, 0x16}.data(), 3, false)
                    .empty());
}

TEST_F(QspiTest, CheckedSaveRefusesANameTooLongForTheFileSystemBeforeWriting) {
    auto mgr = load();
    // Valid by every validator; its file name fits, its temporary does not.
    const std::string name(235, 'N');
    VORN_FLASH* draft = new_draft(*mgr, name, "0xEF 0xAA 0x16");
    VORN_HOST_RESULT result = vorn_save_flash(mgr.get(), draft, custom.path());
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(result.problems[0].find("too long for a file name"), std::string::npos);
    EXPECT_NE(result.problems[0].find("257 bytes"), std::string::npos) << result.problems[0];
    // One byte shorter than the limit fits, and saves.
    draft->set_name(std::string(255 - 8 - 14, 'M'));
    result = vorn_save_flash(mgr.get(), draft, custom.path());
    EXPECT_TRUE(result.ok) << (result.problems.empty() ? "" : result.problems[0]);
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), draft));
}

TEST_F(QspiTest, FailedSaveGivesTheSystemsReasonAndLeavesTheStoredRecordUntouched) {
    auto mgr = load();
    VORN_FLASH* draft = new_draft(*mgr, "HOSTPART3", "0xEF 0xAA 0x16");
    ASSERT_TRUE(vorn_save_flash(mgr.get(), draft, custom.path()).ok);
    const VORN_FLASH* stored = mgr->get_flash_map().at("HOSTPART3");
    const std::string file_text = custom.read("pgm_flash_HOSTPART3.xml");

    draft->set_density("64Mb");
    HOST_FAULT::fail_next(HOST_FAULT::CHANGE_COMMIT);
    VORN_HOST_RESULT result = vorn_save_flash(mgr.get(), draft, custom.path());
    HOST_FAULT::clear();
    EXPECT_FALSE(result.ok);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(
        result.problems[0].find("Saving device 'HOSTPART3' in " + custom.path() + " failed: "),
        std::string::npos)
        << result.problems[0];
    EXPECT_NE(result.problems[0].find("injected failure"), std::string::npos);
    EXPECT_EQ(mgr->get_flash_map().at("HOSTPART3"), stored);
    EXPECT_EQ(stored->get_density(), "32Mb");
    EXPECT_EQ(custom.read("pgm_flash_HOSTPART3.xml"), file_text);
    EXPECT_EQ(find(*mgr, {0xEF, 0xAA, 0x16}), std::vector<std::string>{"HOSTPART3"});

    // A folder where the file should be: the system refuses, and says so.
    draft->set_name("HOSTPART4");
    ASSERT_TRUE(FIO_FILE_SYSTEM::create_directories(custom.path() + "pgm_flash_HOSTPART4.xml"));
    result = vorn_save_flash(mgr.get(), draft, custom.path());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(mentions(result, "is neither a file nor a link")) << result.problems[0];
    EXPECT_EQ(mgr->get_flash_map().count("HOSTPART4"), 0u);
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), draft));
}

// ---- checked deletes -----------------------------------------------------------------------

TEST_F(QspiTest, CheckedDeleteRemovesUserDevicesAndRefusesEverythingElseWithReasons) {
    auto mgr = load();
    VORN_FLASH* draft = new_draft(*mgr, "HOSTPART5", "0xEF 0xAA 0x16");
    ASSERT_TRUE(vorn_save_flash(mgr.get(), draft, custom.path()).ok);
    draft->set_name("HOSTPART6");
    ASSERT_TRUE(vorn_save_flash(mgr.get(), draft, custom.path()).ok);
    EXPECT_TRUE(vorn_discard_draft(mgr.get(), draft));

    EXPECT_TRUE(mentions(vorn_delete_flash(mgr.get(), "W25Q128JV", custom.path()), "built in"));
    EXPECT_TRUE(mentions(vorn_delete_flash(mgr.get(), "NOSUCH", custom.path()), "No user device"));
    EXPECT_TRUE(mentions(vorn_delete_flash(mgr.get(), "", custom.path()), "no name"));
    EXPECT_TRUE(mentions(vorn_delete_flash(mgr.get(), "HOSTPART5", VORN_MGR::get_db_zentro_dir()),
                         "is stored in " + custom.file("pgm_flash_HOSTPART5.xml")));
    EXPECT_TRUE(mentions(vorn_delete_flash(mgr.get(), "HOSTPART5", "/nonexistent/"),
                         "is neither the custom directory"));

    VORN_HOST_RESULT deleted = vorn_delete_flash(mgr.get(), "HOSTPART5", custom.path());
    ASSERT_TRUE(deleted.ok);
    EXPECT_EQ(deleted.file, custom.file("pgm_flash_HOSTPART5.xml"));
    EXPECT_FALSE(custom.exists("pgm_flash_HOSTPART5.xml"));
    EXPECT_EQ(mgr->get_flash_map().count("HOSTPART5"), 0u);

    // Another process removed the file meanwhile: a reason, not an internal error.
    ASSERT_TRUE(FIO_FILE_SYSTEM::remove(custom.file("pgm_flash_HOSTPART6.xml")));
    EXPECT_TRUE(mentions(vorn_delete_flash(mgr.get(), "HOSTPART6", custom.path()), "is gone"));
    EXPECT_EQ(mgr->get_flash_map().count("HOSTPART6"), 1u);
}

TEST_F(QspiTest, OpeningAManagerOverABrokenProgrammerDirectoryGivesAReason) {
    std::string why;
    ASSERT_NE(vorn_open_flash_manager(DEV_FAMILY_QSPI_FLASH, true, &why), nullptr);
    EXPECT_EQ(why, "");
    // A golden template cut short, as an interrupted copy leaves it.
    write_golden("<?xml version=\"1.0\"?>\n<QSPI_FLASH version=\"1\"><GOLDEN_TEMPLATE>");
    EXPECT_EQ(vorn_open_flash_manager(DEV_FAMILY_QSPI_FLASH, true, &why), nullptr);
    EXPECT_NE(why.find("cannot be loaded"), std::string::npos) << why;
    EXPECT_NE(why.find(programmer.path()), std::string::npos) << why;
}

}  // namespace
