// Flash device records: density, generic names, parameters, device IDs and operation lists.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vorn_qspi_action.h"
#include "vorn_qspi_flash.h"
#include "vorn_qspi_operation.h"
#include "vorn_sdmmc_flash.h"
#include "vorn_test_support.h"

namespace {

#define EXPECT_INTERNAL_ERROR(statement, text, source)             \
    do {                                                           \
        try {                                                      \
            statement;                                             \
            ADD_FAILURE() << "no internal error from " #statement; \
        } catch (const VORN_INTERNAL_ERROR& e) {                   \
            EXPECT_EQ(std::string(e.what()), text);                \
            EXPECT_EQ(e.module(), "VORN");                         \
            EXPECT_EQ(e.file(), source);                           \
        }                                                          \
    } while (0)

const char* const kQspiSource = "pgm/vorn/vorn_qspi_flash";
const char* const kSdmmcSource = "pgm/vorn/vorn_sdmmc_flash";

const VORN_PROG_FLOW_TYPE kBadFlow = static_cast<VORN_PROG_FLOW_TYPE>(2);

// An operation that writes its tag into a log when it is destroyed.
class TrackedOperation : public VORN_QSPI_OPERATION {
  public:
    TrackedOperation(std::vector<std::string>* log, std::string tag)
        : VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM), m_log(log), m_tag(std::move(tag)) {
        add_action_into_list(new VORN_QSPI_ACTION(VORN_ACT_TYPE_WRITE_DATA));
    }
    ~TrackedOperation() override { m_log->push_back(m_tag); }

  private:
    std::vector<std::string>* m_log;
    std::string m_tag;
};

unsigned long long qword_density(const std::string& text) {
    VORN_QSPI_FLASH flash("F");
    flash.set_density(text);
    return flash.get_density_in_bytes_qword();
}

std::string qspi_generic(const std::string& density) {
    VORN_QSPI_FLASH flash("F");
    flash.set_density(density);
    return flash.get_generic_name();
}

std::string sdmmc_generic(const std::string& density) {
    VORN_SDMMC_FLASH flash("S");
    flash.set_density(density);
    return flash.get_generic_name();
}

}  // namespace

// ---- common fields --------------------------------------------------------------------------

TEST(FlashRecord, StartsWithNameOnly) {
    VORN_QSPI_FLASH qspi("MT25QU01G");
    EXPECT_EQ(qspi.get_name(), "MT25QU01G");
    EXPECT_EQ(qspi.get_density(), "");
    EXPECT_EQ(qspi.get_db_dir(), "");
    EXPECT_FALSE(qspi.get_flash_removable_permission());
    EXPECT_EQ(qspi.get_family(), DEV_FAMILY_QSPI_FLASH);
    EXPECT_EQ(static_cast<int>(qspi.get_family()), 10);

    VORN_SDMMC_FLASH card("SD32");
    EXPECT_EQ(card.get_name(), "SD32");
    EXPECT_EQ(static_cast<int>(card.get_family()), 55);
    EXPECT_TRUE(card.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->empty());
}

TEST(FlashRecord, FieldsCanBeChanged) {
    VORN_SDMMC_FLASH card("old");
    card.set_name("new");
    card.set_db_dir("/tmp/db/");
    card.set_flash_removable_permission(true);
    EXPECT_EQ(card.get_name(), "new");
    EXPECT_EQ(card.get_db_dir(), "/tmp/db/");
    EXPECT_TRUE(card.get_flash_removable_permission());
    card.set_flash_removable_permission(false);
    EXPECT_FALSE(card.get_flash_removable_permission());
}

// ---- density --------------------------------------------------------------------------------

TEST(FlashDensity, UnitsAndBits) {
    // Nothing after the unit means bytes and only a lower-case b means bits, whatever follows
    // it; leading zeros are decimal.
    const std::pair<const char*, unsigned long long> cases[] = {
        {"1Mb", 131072u},           {"512Mb", 67108864u},  {"2048Mb", 268435456u},
        {"512MB", 536870912u},      {"1GB", 1073741824u},  {"1Gb", 134217728u},
        {"512GB", 549755813888ULL}, {"8M", 8u << 20},      {"8Mx", 8u << 20},
        {"8Mbit", 1u << 20},        {"0512Mb", 67108864u}, {"0Mb", 0u}};
    for (const auto& [text, bytes] : cases) EXPECT_EQ(qword_density(text), bytes) << text;
}

TEST(FlashDensity, UnreadableDensitiesAreZero) {
    for (const char* text : {"", "512", "512mb", "512gb", "512KB", "0.5GB", "Mb", "GB", " 512Mb",
                             "512 Mb", "-1GB", "0x10Mb"}) {
        EXPECT_EQ(qword_density(text), 0u) << "'" << text << "'";
    }
}

TEST(FlashDensity, DwordIsTheLowHalf) {
    VORN_SDMMC_FLASH card("S");
    card.set_density("512GB");  // 0x80_0000_0000
    EXPECT_EQ(card.get_density_in_bytes(), 0u);
    card.set_density("5GB");  // 0x1_4000_0000
    EXPECT_EQ(card.get_density_in_bytes(), 0x40000000u);
    EXPECT_EQ(card.get_density_in_bytes_qword(), 0x140000000ULL);
    card.set_density("2048Mb");
    EXPECT_EQ(card.get_density_in_bytes(), 268435456u);
}

TEST(FlashDensity, ChangingTheTextChangesTheBytes) {
    VORN_QSPI_FLASH flash("F");
    flash.set_density("128Mb");
    EXPECT_EQ(flash.get_density_in_bytes(), 16777216u);
    flash.set_density("256Mb");
    EXPECT_EQ(flash.get_density_in_bytes(), 33554432u);
    EXPECT_EQ(flash.get_generic_name(), "QSPI256MB");
    flash.set_density("");
    EXPECT_EQ(flash.get_density_in_bytes_qword(), 0u);
    EXPECT_EQ(flash.get_generic_name(), "");
}

// ---- generic names --------------------------------------------------------------------------

TEST(FlashGenericName, QspiNamesCountBitsAndSdmmcNamesCountBytes) {
    for (const char* density : {"64Mb", "127Mb", "", "junk"})
        EXPECT_EQ(qspi_generic(density), "") << density;
    const std::pair<const char*, const char*> qspi[] = {
        {"128Mb", "QSPI128MB"},   {"129Mb", "QSPI129MB"}, {"512Mb", "QSPI512MB"},
        {"1023Mb", "QSPI1023MB"}, {"1024Mb", "QSPI1GB"},  {"1Gb", "QSPI1GB"},
        {"2048Mb", "QSPI2GB"},    {"16MB", "QSPI128MB"},  {"3Gb", "QSPI3GB"}};
    for (const auto& [density, name] : qspi) EXPECT_EQ(qspi_generic(density), name) << density;
    const std::pair<const char*, const char*> sdmmc[] = {
        {"32GB", "SDMMC_32GB"}, {"1GB", "SDMMC_1GB"},       {"512GB", "SDMMC_512GB"},
        {"8Gb", "SDMMC_1GB"},   {"1023MB", "SDMMC_1023MB"}, {"512MB", "SDMMC_512MB"},
        {"1Mb", "SDMMC_0MB"},   {"", "SDMMC_0MB"}};
    for (const auto& [density, name] : sdmmc) EXPECT_EQ(sdmmc_generic(density), name) << density;
}

// ---- QSPI parameters ------------------------------------------------------------------------

TEST(QspiFlashParameters, TextParameters) {
    VORN_QSPI_FLASH flash("F");
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, std::string("0x20 0xBB 0x21"));
    flash.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, std::string("1.8V"));
    flash.set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, std::string("My_template"));
    flash.set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, std::string("Micron"));
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_ID), "0x20 0xBB 0x21");
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME), "My_template");
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE), "Micron");

    unsigned int out = 0xABCD;
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_IO_VOLTAGE, &out), 0u);
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_TEMPLATE_NAME, &out), 0u);
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, &out), 0u);
    EXPECT_EQ(out, 0xABCDu);
}

TEST(QspiFlashParameters, NumericParameters) {
    VORN_QSPI_FLASH flash("F");
    unsigned int out = 0xABCD;
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, &out), 0u);
    flash.set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 2u);
    flash.set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, 8u);
    flash.set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, 0xFFFFFFFFu);
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, &out), 2u);
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr), 8u);
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, &out),
              0xFFFFFFFFu);
    EXPECT_EQ(out, 0xABCDu);
    // Numbers have no text form.
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE), "");
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE), "");
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4), "");
}

TEST(QspiFlashParameters, NameAndDensityAreNotParameters) {
    VORN_QSPI_FLASH flash("F");
    flash.set_density("512Mb");
    unsigned int out = 7;
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_NAME), "");
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_DENSITY), "");
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_NAME, &out), 0u);
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_DENSITY, &out), 0u);
    EXPECT_EQ(out, 7u);
}

TEST(QspiFlashParameters, UnsignedIdIsStoredAsSignedDecimal) {
    VORN_QSPI_FLASH flash("F");
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, 4660u);
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_ID), "4660");
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, 0xFFFFFFFFu);
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_ID), "-1");
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, 0u);
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_ID), "0");
}

TEST(QspiFlashParameters, RefusedSettersAreInternalErrors) {
    VORN_QSPI_FLASH flash("F");
    flash.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, std::string("1.8V"));
    flash.set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, 1u);

    for (VORN_FLASH_PARAM p :
         {VORN_FLASH_PARAM_NAME, VORN_FLASH_PARAM_DENSITY, VORN_FLASH_PARAM_TOTAL_DIE,
          VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4}) {
        EXPECT_INTERNAL_ERROR(flash.set_parameter_value(p, std::string("1")),
                              "Unknown flash parameter: " + std::to_string(p), kQspiSource);
    }
    for (VORN_FLASH_PARAM p :
         {VORN_FLASH_PARAM_NAME, VORN_FLASH_PARAM_IO_VOLTAGE, VORN_FLASH_PARAM_DENSITY,
          VORN_FLASH_PARAM_TEMPLATE_NAME, VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE}) {
        EXPECT_INTERNAL_ERROR(flash.set_parameter_value(p, 1u),
                              "Unknown flash parameter: " + std::to_string(p), kQspiSource);
    }
    EXPECT_INTERNAL_ERROR(
        flash.set_parameter_value(static_cast<VORN_FLASH_PARAM>(-3), std::string("x")),
        "Unknown flash parameter: -3", kQspiSource);
    EXPECT_INTERNAL_ERROR(flash.set_parameter_value(static_cast<VORN_FLASH_PARAM>(9), 0u),
                          "Unknown flash parameter: 9", kQspiSource);
    // Nothing was changed on the way.
    EXPECT_EQ(flash.get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr), 1u);
    EXPECT_EQ(flash.get_name(), "F");
}

// ---- device ID ------------------------------------------------------------------------------

TEST(QspiFlashId, BytesAreReadLittleEndianWithAMask) {
    VORN_QSPI_FLASH flash("F");
    const struct {
        const char* id;
        unsigned int value;
        unsigned int mask;
    } cases[] = {
        {"", 0, 0},
        {"0x20", 0x20, 0xFF},
        {"0x20 0xBA", 0xBA20, 0xFFFF},
        {"0x20 0xBA 0x19", 0x19BA20, 0xFFFFFF},
        {"0x20 0xBA 0x19 0x10", 0x1019BA20, 0xFFFFFFFF},
        {"0x20 0xBA 0x19 0x10 0x44 0x00", 0x1019BA20, 0xFFFFFFFF},
        {"0xEF 64 0x18", 0x1840EF, 0xFFFFFF},
        {"  0x01   0x02  ", 0x0201, 0xFFFF},
        {"0x00 0x00", 0, 0xFFFF},  // a zero ID still has a mask
        {"0x2G", 0, 0},
        {"0x20\t0xBA", 0, 0},
        {"0x20 256", 0, 0},
        {"   ", 0, 0},
        {"4660", 0, 0},
    };
    for (const auto& c : cases) {
        flash.set_parameter_value(VORN_FLASH_PARAM_ID, std::string(c.id));
        unsigned int mask = 0x5A5A5A5A;
        EXPECT_EQ(flash.get_id_in_dword(&mask), c.value) << "'" << c.id << "'";
        EXPECT_EQ(mask, c.mask) << "'" << c.id << "'";
        unsigned int out = 0x5A5A5A5A;
        EXPECT_EQ(flash.get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, &out), c.value);
        EXPECT_EQ(out, c.mask);
        EXPECT_EQ(flash.get_id_in_dword(nullptr), c.value);
    }
}

TEST(QspiFlashId, ValueFollowsEveryWayOfChangingTheId) {
    VORN_QSPI_FLASH flash("F");
    unsigned int mask = 0;
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, std::string("0x01 0x02"));
    EXPECT_EQ(flash.get_id_in_dword(&mask), 0x0201u);
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, 18u);  // stored as "18"
    EXPECT_EQ(flash.get_id_in_dword(&mask), 18u);
    EXPECT_EQ(mask, 0xFFu);
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, std::string());
    EXPECT_EQ(flash.get_id_in_dword(&mask), 0u);
    EXPECT_EQ(mask, 0u);
    // Other parameters do not disturb it.
    flash.set_parameter_value(VORN_FLASH_PARAM_ID, std::string("0xC2"));
    EXPECT_EQ(flash.get_id_in_dword(nullptr), 0xC2u);
    flash.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, std::string("3.0V/3.3V"));
    flash.set_density("1Gb");
    EXPECT_EQ(flash.get_id_in_dword(&mask), 0xC2u);
    EXPECT_EQ(mask, 0xFFu);
}

// ---- SD/MMC parameters ----------------------------------------------------------------------

TEST(SdmmcFlashParameters, VoltageIsTheOnlyParameter) {
    VORN_SDMMC_FLASH card("S");
    card.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, std::string("1.8V"));
    EXPECT_EQ(card.get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "1.8V");
    unsigned int out = 0x77;
    EXPECT_EQ(card.get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, &out), 1u);
    EXPECT_EQ(out, 0x77u);
    for (int p = 0; p <= 8; ++p) {
        auto param = static_cast<VORN_FLASH_PARAM>(p);
        if (param != VORN_FLASH_PARAM_IO_VOLTAGE) {
            EXPECT_EQ(card.get_parameter_value(param), "") << p;
        }
        if (param != VORN_FLASH_PARAM_TOTAL_DIE) {
            EXPECT_EQ(card.get_parameter_value_in_dword(param, &out), 0u) << p;
        }
    }
    EXPECT_EQ(out, 0x77u);
}

TEST(SdmmcFlashParameters, RefusedSettersAreInternalErrors) {
    VORN_SDMMC_FLASH card("S");
    card.set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, std::string("1.8V"));
    for (int p = 0; p <= 8; ++p) {
        auto param = static_cast<VORN_FLASH_PARAM>(p);
        std::string text = "Unknown flash parameter: " + std::to_string(p);
        if (param != VORN_FLASH_PARAM_IO_VOLTAGE) {
            EXPECT_INTERNAL_ERROR(card.set_parameter_value(param, std::string("x")), text,
                                  kSdmmcSource);
        }
        EXPECT_INTERNAL_ERROR(card.set_parameter_value(param, 1u), text, kSdmmcSource);
    }
    EXPECT_EQ(card.get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE), "1.8V");
}

// ---- QSPI operation lists -------------------------------------------------------------------

TEST(QspiFlashOperations, ListsAreSeparatePerFlow) {
    VORN_QSPI_FLASH flash("F");
    VORN_OPERATION* sfl = new VORN_QSPI_OPERATION(VORN_OP_TYPE_INITIALIZATION);
    VORN_OPERATION* sdm = new VORN_QSPI_OPERATION(VORN_OP_TYPE_PROGRAM);
    flash.add_operation_into_list(sfl, VORN_PROG_FLOW_TYPE_SFL);
    flash.add_operation_into_list(sdm, VORN_PROG_FLOW_TYPE_SDM);
    EXPECT_EQ(*flash.get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
              std::vector<VORN_OPERATION*>{sfl});
    EXPECT_EQ(*flash.get_operation_list(VORN_PROG_FLOW_TYPE_SDM),
              std::vector<VORN_OPERATION*>{sdm});
    EXPECT_GE(flash.get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->capacity(), 5u);
}

TEST(QspiFlashOperations, ReplacingAListDeletesWhatItHeldLastFirst) {
    std::vector<std::string> log;
    VORN_QSPI_FLASH flash("F");
    flash.add_operation_into_list(new TrackedOperation(&log, "sfl1"), VORN_PROG_FLOW_TYPE_SFL);
    flash.add_operation_into_list(new TrackedOperation(&log, "sfl2"), VORN_PROG_FLOW_TYPE_SFL);
    flash.add_operation_into_list(new TrackedOperation(&log, "sdm1"), VORN_PROG_FLOW_TYPE_SDM);

    std::vector<VORN_OPERATION*> replacement{new TrackedOperation(&log, "new1"),
                                             new TrackedOperation(&log, "new2"),
                                             new TrackedOperation(&log, "new3")};
    flash.set_operation_list(replacement, VORN_PROG_FLOW_TYPE_SFL);
    EXPECT_EQ(log, (std::vector<std::string>{"sfl2", "sfl1"}));
    EXPECT_EQ(*flash.get_operation_list(VORN_PROG_FLOW_TYPE_SFL), replacement);
    EXPECT_EQ(flash.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->size(), 1u);

    log.clear();
    flash.clear_operation_list();
    EXPECT_EQ(log, (std::vector<std::string>{"new3", "new2", "new1", "sdm1"}));
    EXPECT_TRUE(flash.get_operation_list(VORN_PROG_FLOW_TYPE_SFL)->empty());
    EXPECT_TRUE(flash.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->empty());
}

TEST(QspiFlashOperations, DestroyingTheRecordDeletesBothFlows) {
    std::vector<std::string> log;
    std::unique_ptr<VORN_FLASH> flash(new VORN_QSPI_FLASH("F"));
    flash->add_operation_into_list(new TrackedOperation(&log, "sdm"), VORN_PROG_FLOW_TYPE_SDM);
    flash->add_operation_into_list(new TrackedOperation(&log, "sfl"), VORN_PROG_FLOW_TYPE_SFL);
    flash->set_operation_list({new TrackedOperation(&log, "sdm2")}, VORN_PROG_FLOW_TYPE_SDM);
    EXPECT_EQ(log, std::vector<std::string>{"sdm"});
    flash.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"sdm", "sfl", "sdm2"}));
}

TEST(QspiFlashOperations, RefusedListChangesLeaveTheRecordAsItWas) {
    std::vector<std::string> log;
    VORN_QSPI_FLASH flash("F");
    VORN_OPERATION* kept = new TrackedOperation(&log, "kept");
    flash.add_operation_into_list(kept, VORN_PROG_FLOW_TYPE_SFL);

    EXPECT_INTERNAL_ERROR(flash.add_operation_into_list(nullptr, VORN_PROG_FLOW_TYPE_SFL),
                          "operation", kQspiSource);
    EXPECT_INTERNAL_ERROR(flash.set_operation_list({}, VORN_PROG_FLOW_TYPE_SFL),
                          "!operation_list.empty()", kQspiSource);

    // The caller keeps what a refused call was given.
    std::unique_ptr<VORN_OPERATION> spare(new TrackedOperation(&log, "spare"));
    EXPECT_INTERNAL_ERROR(flash.add_operation_into_list(spare.get(), kBadFlow),
                          "Unknown programming flow type", kQspiSource);
    EXPECT_INTERNAL_ERROR(flash.set_operation_list({spare.get()}, kBadFlow),
                          "Unknown programming flow type", kQspiSource);
    EXPECT_INTERNAL_ERROR(flash.set_operation_list({spare.get(), nullptr}, VORN_PROG_FLOW_TYPE_SFL),
                          "operation", kQspiSource);
    EXPECT_INTERNAL_ERROR(flash.get_operation_list(kBadFlow), "Unknown programming flow type",
                          kQspiSource);

    EXPECT_TRUE(log.empty());
    EXPECT_EQ(*flash.get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
              std::vector<VORN_OPERATION*>{kept});
    EXPECT_TRUE(flash.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->empty());
}

TEST(QspiFlashOperations, CopiedOperationsCanReplaceTheOriginals) {
    // What an editor does: copy a flow, then hand the copies back to the record.
    VORN_QSPI_FLASH flash("F");
    auto* op = new VORN_QSPI_OPERATION(VORN_OP_TYPE_ERASE);
    auto* erase = new VORN_QSPI_ACTION(VORN_ACT_TYPE_ERASE);
    erase->set_property_value(VORN_ACT_PROPERTY_ERASE_COMMAND, "0xD8");
    op->add_action_into_list(erase);
    flash.add_operation_into_list(op, VORN_PROG_FLOW_TYPE_SDM);

    std::vector<VORN_OPERATION*> copies;
    for (VORN_OPERATION* original : *flash.get_operation_list(VORN_PROG_FLOW_TYPE_SDM))
        copies.push_back(new VORN_QSPI_OPERATION(*static_cast<VORN_QSPI_OPERATION*>(original)));
    flash.set_operation_list(copies, VORN_PROG_FLOW_TYPE_SDM);

    const auto& list = *flash.get_operation_list(VORN_PROG_FLOW_TYPE_SDM);
    ASSERT_EQ(list.size(), 1u);
    ASSERT_EQ(list[0]->get_action_list()->size(), 1u);
    EXPECT_EQ((*list[0]->get_action_list())[0]->get_property_value(VORN_ACT_PROPERTY_ERASE_COMMAND),
              "0xD8");
}

// ---- SD/MMC operation lists -----------------------------------------------------------------

TEST(SdmmcFlashOperations, OnlyTheSdmFlowExists) {
    std::vector<std::string> log;
    VORN_SDMMC_FLASH card("S");
    card.add_operation_into_list(new TrackedOperation(&log, "a"), VORN_PROG_FLOW_TYPE_SDM);
    card.add_operation_into_list(new TrackedOperation(&log, "b"), VORN_PROG_FLOW_TYPE_SDM);
    EXPECT_EQ(card.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->size(), 2u);

    std::unique_ptr<VORN_OPERATION> spare(new TrackedOperation(&log, "spare"));
    EXPECT_INTERNAL_ERROR(card.get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                          "Unknown programming flow type", kSdmmcSource);
    EXPECT_INTERNAL_ERROR(card.add_operation_into_list(spare.get(), VORN_PROG_FLOW_TYPE_SFL),
                          "Unknown programming flow type", kSdmmcSource);
    EXPECT_INTERNAL_ERROR(card.set_operation_list({spare.get()}, VORN_PROG_FLOW_TYPE_SFL),
                          "Unknown programming flow type", kSdmmcSource);
    EXPECT_INTERNAL_ERROR(card.add_operation_into_list(nullptr, VORN_PROG_FLOW_TYPE_SDM),
                          "operation", kSdmmcSource);
    EXPECT_INTERNAL_ERROR(card.set_operation_list({}, VORN_PROG_FLOW_TYPE_SDM),
                          "!operation_list.empty()", kSdmmcSource);
    EXPECT_TRUE(log.empty());

    card.set_operation_list({spare.release()}, VORN_PROG_FLOW_TYPE_SDM);
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));
    log.clear();
    card.clear_operation_list();
    EXPECT_EQ(log, std::vector<std::string>{"spare"});
    EXPECT_TRUE(card.get_operation_list(VORN_PROG_FLOW_TYPE_SDM)->empty());
}

TEST(SdmmcFlashOperations, DestroyingTheCardDeletesItsOperations) {
    std::vector<std::string> log;
    {
        VORN_SDMMC_FLASH card("S");
        card.add_operation_into_list(new TrackedOperation(&log, "a"), VORN_PROG_FLOW_TYPE_SDM);
        card.add_operation_into_list(new TrackedOperation(&log, "b"), VORN_PROG_FLOW_TYPE_SDM);
    }
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));
}
