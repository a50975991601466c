// Random sequences of saves, re-saves, deletes, failed writes, lookups and reloads, for both
// families, checked after every step against a plain model of what the database must hold:
// the manager's answers, and the files on disk read without the manager.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <regex>

#include "host_fault.h"
#include "test_reliability_support.h"
#include "vorn_test_support.h"

namespace {

using vorn_test::entries;

struct ENTRY {
    bool custom;  // else the Zentro directory
    std::string density;
    unsigned id;          // QSPI only: little-endian value of the ID bytes
    bool shared = false;  // still in the seeded file with others
};
using MODEL = std::map<std::string, ENTRY>;

const auto CARD_FAMILY = static_cast<DEV_FAMILY_ENUM>(61);  // 1.8 V, with SD/MMC

std::string id_text(unsigned id) {
    return TARVEN::fmt_sprintf("0x%02X 0x%02X 0x%02X", id & 0xFF, (id >> 8) & 0xFF,
                               (id >> 16) & 0xFF);
}

struct QSPI {
    using MGR = VORN_QSPI_MGR;
    static constexpr bool has_id = true;
    static std::vector<std::string> densities() { return {"128Mb", "256Mb", "512Mb", "1024Mb"}; }
    static void seed(vorn_test::ProgrammerDir& prog) {
        prog.write("xml/pgm_flash_db_qspi.xml", reliability_test::small_golden());
    }
    static VORN_FLASH* make(MGR& mgr, const std::string& name, const ENTRY& e) {
        VORN_FLASH* flash = reliability_test::make_qspi_device(mgr, name);
        flash->set_parameter_value(VORN_FLASH_PARAM_ID, id_text(e.id));
        flash->set_density(e.density);
        return flash;
    }
};

struct SDMMC {
    using MGR = VORN_SDMMC_MGR;
    static constexpr bool has_id = false;
    static std::vector<std::string> densities() { return {"2GB", "8GB", "64GB"}; }
    static void seed(vorn_test::ProgrammerDir& prog) {
        cfg_set_switch("pgm_enable_custom_sdmmc", true);
        prog.write("xml/pgm_flash_db_sdmmc.xml",
                   vorn_test::sdmmc_document({{"GOLD", "1.8V", "8GB"}}));
    }
    static VORN_FLASH* make(MGR&, const std::string& name, const ENTRY& e) {
        auto* flash = new VORN_SDMMC_FLASH(name);
        flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, std::string("1.8V"));
        flash->set_density(e.density);
        return flash;
    }
};

template <typename FAMILY>
class MgrModel : public ::testing::Test {
  protected:
    void SetUp() override {
        cfg_clear_switches();
        prog.write("dev/families.ini",
                   "[61]\nname = Boots\nenabled = 1\nsdm = 1\nsdmmc = 1\n"
                   "flash_io_voltage = 1.8V\n");
        FAMILY::seed(prog);
        VORN_MGR::set_db_custom_dir(custom_dir.path());
        zentro = FIO_PATH(VORN_MGR::get_db_zentro_dir()).full_directory();
        custom = FIO_PATH(VORN_MGR::get_db_custom_dir()).full_directory();
    }
    void TearDown() override {
        VORN_MGR::set_db_custom_dir("");
        cfg_clear_switches();
    }

    // Three devices sharing one custom file, so that deletes and re-saves must rewrite it.
    void seed_shared_file(typename FAMILY::MGR& mgr, MODEL& model) {
        std::vector<VORN_FLASH*> records;
        for (int i = 0; i < 3; ++i) {
            const std::string name = "SHARED_" + std::to_string(i);
            model[name] = {true, FAMILY::densities()[i], 0x10 + static_cast<unsigned>(i), true};
            records.push_back(FAMILY::make(mgr, name, model[name]));
        }
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
            mgr.create_xml_object_with_flash_list(records));
        for (VORN_FLASH* r : records) delete r;
        ASSERT_TRUE(PGM_COMMON_XML::write_xml(tree.get(), custom + "pgm_flash_shared.xml"));
    }

    // The manager and the files agree with the model; `fixed` are golden names never touched.
    void check(VORN_MGR& mgr, const MODEL& model, const MODEL& fixed) {
        MODEL all = fixed;
        all.insert(model.begin(), model.end());
        ASSERT_EQ(mgr.get_flash_map().size(), all.size());
        for (const auto& [name, e] : all) {
            VORN_FLASH* flash = mgr.get_flash(name, true);
            ASSERT_NE(flash, nullptr) << name;
            EXPECT_EQ(flash->get_density(), e.density) << name;
            if (FAMILY::has_id) {
                EXPECT_EQ(flash->get_parameter_value(VORN_FLASH_PARAM_ID), id_text(e.id)) << name;
            }
        }
        for (const std::string& name : pool)
            EXPECT_EQ(mgr.device_exist_in_db(name, true), model.count(name) == 1) << name;

        // Lookups return the first match in name order.
        for (const std::string& density : FAMILY::densities()) {
            std::string first;
            for (const auto& [name, e] : all)
                if (e.density == density && first.empty()) first = name;
            VORN_SDMMC_FLASH probe("probe");
            probe.set_density(density);
            VORN_FLASH* found = mgr.get_flash_with_density(probe.get_density_in_bytes_qword());
            EXPECT_EQ(found ? found->get_name() : "", first) << density;
        }
        if (FAMILY::has_id) {
            for (unsigned mask : {0xFFFFFFu, 0xFFFFu, 0xFFu}) {
                for (unsigned id : {0x0110u, 0x0210u, 0x020111u, 0x12u}) {
                    std::vector<std::string> answering;
                    for (const auto& [name, e] : all)
                        if ((e.id & mask) == (id & mask)) answering.push_back(name);
                    VORN_FLASH* found = mgr.get_flash_with_id(id, mask);
                    EXPECT_EQ(found ? found->get_name() : "",
                              answering.empty() ? "" : answering.front())
                        << id << "/" << mask;
                    EXPECT_EQ(mgr.get_flash_names_with_id(id, mask), answering);
                }
            }
        }

        // Each device is in exactly one file of its own directory, with nothing else of ours.
        std::map<std::string, std::vector<std::string>> seen;  // name -> files
        const std::regex device_name("<DEVICE_NAME>([^<]*)</DEVICE_NAME>");
        for (const std::string& dir : {zentro, custom}) {
            for (const std::string& file : entries(dir, "pgm_flash_*.xml")) {
                if (file == "pgm_flash_db_qspi.xml" || file == "pgm_flash_db_sdmmc.xml") continue;
                const std::string text = vorn_test::read_text(dir + file);
                EXPECT_FALSE(text.empty()) << dir << file;
                for (std::sregex_iterator m(text.begin(), text.end(), device_name), end; m != end;
                     ++m)
                    seen[(*m)[1]].push_back(dir + file);
            }
        }
        for (const auto& [name, files] : seen) {
            ASSERT_EQ(model.count(name), 1u) << name << " left in " << files[0];
            ASSERT_EQ(files.size(), 1u) << name << " in " << files.size() << " files";
            EXPECT_EQ(files[0].rfind(model.at(name).custom ? custom : zentro, 0), 0u) << name;
        }
        EXPECT_EQ(seen.size(), model.size());
    }

    vorn_test::ProgrammerDir prog;
    vorn_test::TempDir custom_dir;
    std::string zentro;
    std::string custom;
    // Even names live in the Zentro directory, odd ones in the custom directory.
    const std::vector<std::string> pool = {"DEV_0",    "dev_1",     "DEV_2",    "dev_3",
                                           "DEV_4",    "dev_5",     "SHARED_0", "SHARED_1",
                                           "SHARED_2", "NEVER_SEEN"};
};

using FAMILIES = ::testing::Types<QSPI, SDMMC>;
TYPED_TEST_SUITE(MgrModel, FAMILIES);

TYPED_TEST(MgrModel, RandomSequencesKeepTheMapsAndTheFilesInStep) {
    const char* env = std::getenv("VORN_MODEL_SEED");
    const unsigned first_seed = env ? static_cast<unsigned>(std::atoi(env)) : 1;
    const int rounds = env ? 1 : 6;
    for (unsigned seed = first_seed; seed < first_seed + rounds; ++seed) {
        SCOPED_TRACE(testing::Message() << "VORN_MODEL_SEED=" << seed);
        std::mt19937 rng(seed);
        auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
        for (const std::string& file : entries(this->custom, "*"))
            std::remove((this->custom + file).c_str());
        for (const std::string& file : entries(this->zentro, "pgm_flash_DEV*"))
            std::remove((this->zentro + file).c_str());

        MODEL model;
        MODEL fixed;
        std::unique_ptr<VORN_MGR> mgr;
        {
            typename TypeParam::MGR seeder;
            for (const auto& [name, flash] : seeder.get_flash_map())
                fixed[name] = {false, flash->get_density(), 0};
            this->seed_shared_file(seeder, model);
        }
        mgr = std::make_unique<typename TypeParam::MGR>();
        mgr->set_active_device_family(CARD_FAMILY);
        this->check(*mgr, model, fixed);

        for (int step = 0; step < 40 && !testing::Test::HasFatalFailure(); ++step) {
            const size_t which = pick(this->pool.size());
            const std::string name = this->pool[which];
            const bool custom = which % 2 == 1 || name.rfind("SHARED", 0) == 0;
            const std::string dir = custom ? this->custom : this->zentro;
            const int op = static_cast<int>(pick(10));
            // A delete writes only when companions must be rewritten.
            size_t companions = 0;
            for (const auto& entry : model) companions += entry.second.shared ? 1 : 0;
            const bool rewrites = model.count(name) == 1 && model.at(name).shared && companions > 1;
            const bool fail = pick(6) == 0 && (op < 5 || (op < 8 && rewrites));
            vorn_test::MessageCapture capture;
            if (fail)
                HOST_FAULT::fail_next(pick(2) ? HOST_FAULT::CHANGE_WRITE
                                              : HOST_FAULT::CHANGE_COMMIT);
            if (op < 5) {
                ENTRY e{custom, TypeParam::densities()[pick(TypeParam::densities().size())],
                        0x10 + static_cast<unsigned>(pick(3)) * 0x100 +
                            static_cast<unsigned>(pick(3)) * 0x10000};
                auto& typed = static_cast<typename TypeParam::MGR&>(*mgr);
                EXPECT_EQ(mgr->update_db(TypeParam::make(typed, name, e), dir), !fail)
                    << "save " << name << " at step " << step;
                if (!fail) model[name] = e;
            } else if (op < 8) {
                const bool present = model.count(name) == 1;
                // An unknown name is nothing to delete: that succeeds.
                EXPECT_EQ(mgr->delete_db(name, dir), !fail)
                    << "delete " << name << " at step " << step;
                if (present && !fail) model.erase(name);
            } else {
                mgr.reset(mgr->get_new_instance());
                mgr->set_active_device_family(CARD_FAMILY);
            }
            HOST_FAULT::clear();
            if (fail)
                EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{20560}) << step;
            else
                EXPECT_TRUE(capture.messages().empty()) << step;
            this->check(*mgr, model, fixed);
        }
        mgr.reset(mgr->get_new_instance());
        mgr->set_active_device_family(CARD_FAMILY);
        this->check(*mgr, model, fixed);
    }
}

}  // namespace

namespace {

// A host that runs with its standard input closed (a daemon) gets descriptor 0 for the next
// file it opens: a save must take it like any other.
TEST(MgrSaves, AHostWithoutStandardInputStillSaves) {
    const reliability_test::SMALL_DATABASE db;
    const vorn_test::TempDir& custom = db.custom;
    vorn_test::Child saver([&] {
        msg_set_sink([](const MSG_RECORD&) {});
        VORN_QSPI_MGR mgr;
        VORN_DB_LOCK lock(custom.path());  // held, so the save opens no lock of its own
        close(0);
        return mgr.update_db(reliability_test::make_qspi_device(mgr, "NO_STDIN"), custom.path())
                   ? 0
                   : 1;
    });
    EXPECT_EQ(saver.wait(), 0);
    EXPECT_TRUE(custom.exists("pgm_flash_NO_STDIN.xml"));
}

}  // namespace
