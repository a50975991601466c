// QSPI actions: layout and defaults per type, property names and choices, the acceptance rules
// with their warnings and explanations, and the conversions of property texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "vorn_qspi_action.h"
#include "vorn_qspi_common.h"
#include "vorn_test_support.h"

namespace {

#define EXPECT_INTERNAL_ERROR(statement, text)                     \
    do {                                                           \
        try {                                                      \
            statement;                                             \
            ADD_FAILURE() << "no internal error from " #statement; \
        } catch (const VORN_INTERNAL_ERROR& e) {                   \
            EXPECT_STREQ(e.what(), text);                          \
            EXPECT_EQ(e.module(), "VORN");                         \
            EXPECT_EQ(e.file(), "pgm/vorn/vorn_qspi_action");      \
        }                                                          \
    } while (0)

VORN_ACT_TYPE type_of(VORN_ACT_PROPERTY p) {
    if (p <= VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH) return VORN_ACT_TYPE_WRITE_REGISTER;
    if (p <= VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH) return VORN_ACT_TYPE_READ_REGISTER;
    if (p <= VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH) return VORN_ACT_TYPE_WRITE_DATA;
    if (p <= VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH) return VORN_ACT_TYPE_READ_DATA;
    if (p <= VORN_ACT_PROPERTY_ERASE_BUS_WIDTH) return VORN_ACT_TYPE_ERASE;
    return VORN_ACT_TYPE_CUSTOM;
}

// Runs one validation under capture and reports what it did.
struct VERDICT {
    bool accepted;
    std::vector<unsigned> posted;
    std::string err_msg;
};

VERDICT judge(VORN_ACT_PROPERTY p, const std::string& value) {
    VORN_QSPI_ACTION action(type_of(p));
    vorn_test::MessageCapture capture;
    VERDICT v;
    v.err_msg = "untouched";
    v.accepted = action.property_value_is_valid(p, value, &v.err_msg);
    v.posted = capture.message_ids();
    return v;
}

bool accepts(VORN_ACT_PROPERTY p, const std::string& value) {
    VORN_QSPI_ACTION action(type_of(p));
    vorn_test::MessageCapture capture;
    return action.property_value_is_valid(p, value);
}

class SuppressionGuard {
  public:
    ~SuppressionGuard() { MSG_INDEX::get_default_index()->clear_suppressed(); }
};

// ---- the acceptance table -------------------------------------------------------------------

const char* const kNameText = "' is invalid as it contains an empty string or special characters.";
const char* const kCommandText =
    "' is invalid. It either contains an empty string or special characters, or it is not in "
    "the list of byte formats.";
const char* const kBytesText =
    "' is invalid. It either contains special characters or is not in the list of byte formats.";
const char* const kEmptyOrSpecialText =
    "' is invalid. It contains either an empty string or special characters.";
const char* const kZeroText =
    "' is invalid. It either contains an empty string or special characters, or has a value of "
    "0.";

struct ROW {
    VORN_ACT_PROPERTY property;
    const char* accepted;
    const char* rejected;
    unsigned warning;
    const char* prefix;
    const char* suffix;
};

const ROW kRows[] = {
    {VORN_ACT_PROPERTY_WRITE_REG_NAME, "Write Enable", "Write-Enable", 20485, "Action name '",
     kNameText},
    {VORN_ACT_PROPERTY_WRITE_REG_COMMAND, "0x06", "0x06 0x01", 20486, "Action command '",
     kCommandText},
    {VORN_ACT_PROPERTY_WRITE_REG_DATA, "0x00 0x02", "0x0G", 20496, "Action data '", kBytesText},
    {VORN_ACT_PROPERTY_WRITE_REG_DELAY, "100", "1 ms", 20500, "Action delay '",
     kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH, "1-1", "1-1-1", 20505, "Action bus width '",
     "' is invalid."},
    {VORN_ACT_PROPERTY_READ_REG_NAME, "Read Status", "Read:Status", 20485, "Action name '",
     kNameText},
    {VORN_ACT_PROPERTY_READ_REG_COMMAND, "0x05", "", 20486, "Action command '", kCommandText},
    {VORN_ACT_PROPERTY_READ_REG_DATA_LENGTH, "1", "0", 20497, "Action data length '", kZeroText},
    {VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA, "0x00", "0x100", 20495, "Action expected data '",
     kBytesText},
    {VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK, "0x01", "0x01,0x02", 20494,
     "Action data mask '", kBytesText},
    {VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, "10000", "0", 20498, "Action attempt count '",
     kZeroText},
    {VORN_ACT_PROPERTY_READ_REG_DELAY, "0x0", "", 20500, "Action delay '", kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH, "1-1", "1-4", 20505, "Action bus width '",
     "' is invalid."},
    {VORN_ACT_PROPERTY_WRITE_DATA_NAME, "Program_page", "", 20485, "Action name '", kNameText},
    {VORN_ACT_PROPERTY_WRITE_DATA_COMMAND, "2", "0x106", 20486, "Action command '", kCommandText},
    {VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS, "0x0", "-1", 20502, "Action address '",
     kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_WRITE_DATA_DATA, "data.jic", "jIc", 20496, "Action data '", kBytesText},
    {VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, "256", "512", 20501, "Action page size '",
     "' is invalid. It either contains an empty string or special characters, or has a value "
     "other than 256."},
    {VORN_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE, "4", "0", 20503, "Action addressing mode '",
     kZeroText},
    {VORN_ACT_PROPERTY_WRITE_DATA_DELAY, "0xFF", "0xFFh", 20500, "Action delay '",
     kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH, "1-1-1", "1-1", 20505, "Action bus width '",
     "' is invalid."},
    {VORN_ACT_PROPERTY_READ_DATA_NAME, "Read_data 2", "  ", 20485, "Action name '", kNameText},
    {VORN_ACT_PROPERTY_READ_DATA_COMMAND, "0x0B", "0x0B 0x0C", 20486, "Action command '",
     kCommandText},
    {VORN_ACT_PROPERTY_READ_DATA_ADDRESS, "file.JIC", "", 20502, "Action address '",
     kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_READ_DATA_DATA_LENGTH, "256", "257", 20497, "Action data length '",
     kZeroText},
    {VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA, "", "0x12\t0x34", 20495, "Action expected data '",
     kBytesText},
    {VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK, "255 0xff", "256", 20494, "Action data mask '",
     kBytesText},
    {VORN_ACT_PROPERTY_READ_DATA_ADDRESSING_MODE, "0x3", "0x0", 20503, "Action addressing mode '",
     kZeroText},
    {VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, "15", "16", 20504, "Action dummy clock cycle '",
     kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_READ_DATA_DELAY, "0", "0X10", 20500, "Action delay '", kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH, "1-1-1", "1-1-4", 20505, "Action bus width '",
     "' is invalid."},
    {VORN_ACT_PROPERTY_ERASE_NAME, "Erase_64KB", "Erase 64KB!", 20485, "Action name '", kNameText},
    {VORN_ACT_PROPERTY_ERASE_COMMAND, " 0xD8 ", "0xD8 0x00", 20486, "Action command '",
     kCommandText},
    {VORN_ACT_PROPERTY_ERASE_ADDRESS, "65536", "0x10000 ", 20502, "Action address '",
     kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_ERASE_ERASE_SIZE, "0x10000", "0", 20499, "Action erase size '", kZeroText},
    {VORN_ACT_PROPERTY_ERASE_ADDRESSING_MODE, "3", "", 20503, "Action addressing mode '",
     kZeroText},
    {VORN_ACT_PROPERTY_ERASE_DELAY, "1000000", "1e6", 20500, "Action delay '", kEmptyOrSpecialText},
    {VORN_ACT_PROPERTY_ERASE_BUS_WIDTH, "1-1", "", 20505, "Action bus width '", "' is invalid."},
    {VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION, "Erase data", "", 20509, "Action custom description '",
     "' is invalid due to an empty string."},
    {VORN_ACT_PROPERTY_CUSTOM_DIRECTION, "start", "START", 20507, "Action custom direction '",
     "' is invalid."},
};

}  // namespace

// ---- construction ---------------------------------------------------------------------------

TEST(ActionConstruction, EachTypeHasItsRunOfProperties) {
    const struct {
        VORN_ACT_TYPE type;
        int first;
        int count;
    } runs[] = {{VORN_ACT_TYPE_WRITE_REGISTER, 0, 5}, {VORN_ACT_TYPE_READ_REGISTER, 5, 8},
                {VORN_ACT_TYPE_WRITE_DATA, 13, 8},    {VORN_ACT_TYPE_READ_DATA, 21, 10},
                {VORN_ACT_TYPE_ERASE, 31, 7},         {VORN_ACT_TYPE_CUSTOM, 38, 2}};
    for (const auto& run : runs) {
        VORN_QSPI_ACTION action(run.type);
        EXPECT_EQ(action.get_type(), run.type);
        EXPECT_EQ(action.get_name(), VORN_ACT_TYPE_NAME[run.type]);
        const auto& list = action.get_property_enum_list();
        ASSERT_EQ(list.size(), static_cast<size_t>(run.count));
        EXPECT_EQ(list.capacity(), list.size());
        for (int i = 0; i < run.count; ++i) EXPECT_EQ(list[i], run.first + i);
    }
    EXPECT_EQ(VORN_QSPI_ACTION(VORN_ACT_TYPE_READ_REGISTER).get_name(), "Read Register");
}

TEST(ActionConstruction, NewActionsCarryTheirDefaults) {
    const struct {
        VORN_ACT_PROPERTY property;
        const char* value;
    } defaults[] = {
        {VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, "1"},
        {VORN_ACT_PROPERTY_READ_REG_DELAY, "0"},
        {VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH, "1-1"},
        {VORN_ACT_PROPERTY_READ_REG_COMMAND, ""},
        {VORN_ACT_PROPERTY_READ_REG_NAME, ""},
        {VORN_ACT_PROPERTY_WRITE_REG_DELAY, "0"},
        {VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH, "1-1"},
        {VORN_ACT_PROPERTY_WRITE_REG_DATA, ""},
        {VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, "256"},
        {VORN_ACT_PROPERTY_WRITE_DATA_DELAY, "0"},
        {VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH, "1-1-1"},
        {VORN_ACT_PROPERTY_WRITE_DATA_ADDRESSING_MODE, ""},
        {VORN_ACT_PROPERTY_READ_DATA_DELAY, "0"},
        {VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH, "1-1-1"},
        {VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, ""},
        {VORN_ACT_PROPERTY_ERASE_DELAY, "0"},
        {VORN_ACT_PROPERTY_ERASE_BUS_WIDTH, "1-1"},
        {VORN_ACT_PROPERTY_ERASE_ERASE_SIZE, ""},
    };
    for (const auto& d : defaults)
        EXPECT_EQ(VORN_QSPI_ACTION(type_of(d.property)).get_property_value(d.property), d.value)
            << d.property;
}

TEST(ActionConstruction, DefaultsPassTheirOwnRules) {
    for (int t = VORN_ACT_TYPE_WRITE_REGISTER; t <= VORN_ACT_TYPE_ERASE; ++t) {
        VORN_QSPI_ACTION action(static_cast<VORN_ACT_TYPE>(t));
        vorn_test::MessageCapture capture;
        for (VORN_ACT_PROPERTY p : action.get_property_enum_list()) {
            std::string value = action.get_property_value(p);
            if (value.empty()) continue;
            EXPECT_TRUE(action.property_value_is_valid(p, value)) << p << " = " << value;
        }
        EXPECT_TRUE(capture.messages().empty());
    }
}

TEST(ActionConstruction, CustomActionStartsWithoutValues) {
    VORN_QSPI_ACTION custom(VORN_ACT_TYPE_CUSTOM);
    EXPECT_EQ(custom.get_name(), "Custom");
    EXPECT_EQ(custom.get_property_value(VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION), "");
    EXPECT_EQ(custom.get_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION), "");
    vorn_test::MessageCapture capture;
    EXPECT_FALSE(custom.property_value_is_valid(
        VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION,
        custom.get_property_value(VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION)));
}

TEST(ActionConstruction, UnknownTypeIsAnInternalError) {
    EXPECT_INTERNAL_ERROR(VORN_QSPI_ACTION(static_cast<VORN_ACT_TYPE>(6)), "Unknown action type");
    EXPECT_INTERNAL_ERROR(VORN_QSPI_ACTION(static_cast<VORN_ACT_TYPE>(-1)), "Unknown action type");
    EXPECT_THROW(new VORN_QSPI_ACTION(static_cast<VORN_ACT_TYPE>(100)), VORN_INTERNAL_ERROR);
}

TEST(ActionConstruction, CopyIsIndependent) {
    VORN_QSPI_ACTION original(VORN_ACT_TYPE_READ_DATA);
    original.set_property_value(VORN_ACT_PROPERTY_READ_DATA_COMMAND, "0x0B");
    VORN_QSPI_ACTION copy(original);
    EXPECT_EQ(copy.get_name(), "Read Data");
    EXPECT_EQ(copy.get_type(), VORN_ACT_TYPE_READ_DATA);
    EXPECT_EQ(copy.get_property_enum_list(), original.get_property_enum_list());
    EXPECT_EQ(copy.get_property_value(VORN_ACT_PROPERTY_READ_DATA_COMMAND), "0x0B");
    copy.set_property_value(VORN_ACT_PROPERTY_READ_DATA_COMMAND, "0x6B");
    EXPECT_EQ(original.get_property_value(VORN_ACT_PROPERTY_READ_DATA_COMMAND), "0x0B");
}

// ---- names, values, choices -----------------------------------------------------------------

TEST(ActionProperties, NamesAreTheDisplayLabels) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_DATA);
    EXPECT_EQ(action.get_property_name(VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH),
              "Command-Address-Data(bus width):");
    EXPECT_EQ(action.get_property_name(VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE),
              "Dummy clock cycle:");
    EXPECT_EQ(action.get_property_name(VORN_ACT_PROPERTY_ERASE_BUS_WIDTH),
              "Command-Address(bus width):");
    VORN_QSPI_ACTION custom(VORN_ACT_TYPE_CUSTOM);
    EXPECT_EQ(custom.get_property_name(VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION), "");
    EXPECT_EQ(custom.get_property_name(VORN_ACT_PROPERTY_CUSTOM_DIRECTION), "");
    EXPECT_INTERNAL_ERROR(custom.get_property_name(static_cast<VORN_ACT_PROPERTY>(40)),
                          "Unknown action property enum");
}

TEST(ActionProperties, SetterReplacesWithoutChecking) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_REGISTER);
    vorn_test::MessageCapture capture;
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY, "not a number");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY), "not a number");
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY, "");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_REG_DELAY), "");
    // A property of another type is stored too.
    action.set_property_value(VORN_ACT_PROPERTY_ERASE_ERASE_SIZE, "4096");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_ERASE_ERASE_SIZE), "4096");
    EXPECT_TRUE(capture.records().empty());
}

TEST(ActionProperties, ValuesSetInAnyOrderReadBackByProperty) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_READ_DATA);
    const std::vector<VORN_ACT_PROPERTY>& run = action.get_property_enum_list();
    // Last to first, then a property below the run and one above it.
    for (auto it = run.rbegin(); it != run.rend(); ++it)
        action.set_property_value(*it, "v" + std::to_string(static_cast<int>(*it)));
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME, "below");
    action.set_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION, "above");
    for (VORN_ACT_PROPERTY p : run)
        EXPECT_EQ(action.get_property_value(p), "v" + std::to_string(static_cast<int>(p)));
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME), "below");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION), "above");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_ERASE_NAME), "");

    // Replacing keeps one value per property.
    action.set_property_value(VORN_ACT_PROPERTY_READ_DATA_ADDRESS, "0x00");
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME, "again");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_READ_DATA_ADDRESS), "0x00");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME), "again");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_READ_DATA_NAME), "v21");
    VORN_QSPI_ACTION copy(action);
    EXPECT_EQ(copy.get_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION), "above");
    EXPECT_EQ(copy.get_property_value(VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH), "v30");
}

TEST(ActionProperties, ValuesOfAnyLengthAndBytesSurviveNeighbourChanges) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_DATA);
    const std::string long_text(300, 'x');  // length needs more than one byte
    const std::string with_nul("a\0b", 3);
    const std::string huge(70000, '\x80');                        // length needs three bytes
    const auto far_above = static_cast<VORN_ACT_PROPERTY>(1000);  // not a named member
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_NAME, long_text);
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_COMMAND, with_nul);
    action.set_property_value(far_above, huge);
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS, "");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_NAME), long_text);
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_COMMAND), with_nul);
    EXPECT_EQ(action.get_property_value(far_above), huge);
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS), "");

    // Shrinking and growing one value leaves the others as they were.
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_NAME, "n");
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_DATA_COMMAND, long_text + long_text);
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_NAME), "n");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_COMMAND),
              long_text + long_text);
    EXPECT_EQ(action.get_property_value(far_above), huge);
    EXPECT_EQ(action.get_property_value(static_cast<VORN_ACT_PROPERTY>(1000 + 128)), "");
    EXPECT_EQ(action.get_property_value(VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH), "1-1-1");
}

TEST(ActionProperties, BusWidthsOfferOneChoice) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_REGISTER);
    const std::vector<std::string> two{"1-1"};
    const std::vector<std::string> three{"1-1-1"};
    EXPECT_EQ(action.get_property_value_list(VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH), two);
    EXPECT_EQ(action.get_property_value_list(VORN_ACT_PROPERTY_READ_REG_BUS_WIDTH), two);
    EXPECT_EQ(action.get_property_value_list(VORN_ACT_PROPERTY_ERASE_BUS_WIDTH), two);
    EXPECT_EQ(action.get_property_value_list(VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH), three);
    EXPECT_EQ(action.get_property_value_list(VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH), three);
    EXPECT_INTERNAL_ERROR(action.get_property_value_list(VORN_ACT_PROPERTY_WRITE_REG_NAME),
                          "Unknown action property enum");
    EXPECT_INTERNAL_ERROR(action.get_property_value_list(VORN_ACT_PROPERTY_CUSTOM_DIRECTION),
                          "Unknown action property enum");
}

TEST(ActionProperties, OnlyBusWidthsAndPageSizeAreLocked) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_DATA);
    const std::vector<int> locked{4, 12, 17, 20, 30, 37};
    for (int p = 0; p < 40; ++p) {
        bool is_locked = std::find(locked.begin(), locked.end(), p) != locked.end();
        EXPECT_EQ(action.property_value_is_enable(static_cast<VORN_ACT_PROPERTY>(p)), !is_locked)
            << p;
    }
}

TEST(ActionProperties, ProgrammingFileReferenceIsJicInOneCase) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_DATA);
    EXPECT_TRUE(action.property_value_is_jic_file("data.jic"));
    EXPECT_TRUE(action.property_value_is_jic_file("FILE.JIC"));
    EXPECT_TRUE(action.property_value_is_jic_file("jic"));
    EXPECT_TRUE(action.property_value_is_jic_file("prefix JIC suffix"));
    EXPECT_FALSE(action.property_value_is_jic_file("file.Jic"));
    EXPECT_FALSE(action.property_value_is_jic_file("ji c"));
    EXPECT_FALSE(action.property_value_is_jic_file(""));
}

// ---- acceptance -----------------------------------------------------------------------------

TEST(ActionAcceptance, TableCoversEveryProperty) {
    ASSERT_EQ(sizeof(kRows) / sizeof(kRows[0]), 40u);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(kRows[i].property, i);
}

TEST(ActionAcceptance, AcceptedValuesPostNothingAndLeaveTheTextAlone) {
    for (const ROW& row : kRows) {
        SCOPED_TRACE(testing::Message()
                     << "property " << row.property << " '" << row.accepted << "'");
        VERDICT v = judge(row.property, row.accepted);
        EXPECT_TRUE(v.accepted);
        EXPECT_TRUE(v.posted.empty());
        EXPECT_EQ(v.err_msg, "untouched");
    }
}

TEST(ActionAcceptance, RejectedValuesPostTheirWarningAndExplain) {
    for (const ROW& row : kRows) {
        SCOPED_TRACE(testing::Message()
                     << "property " << row.property << " '" << row.rejected << "'");
        VERDICT v = judge(row.property, row.rejected);
        EXPECT_FALSE(v.accepted);
        EXPECT_EQ(v.posted, std::vector<unsigned>{row.warning});
        EXPECT_EQ(v.err_msg, std::string(row.prefix) + row.rejected + row.suffix);

        // The warning does not depend on the caller wanting the text.
        VORN_QSPI_ACTION action(type_of(row.property));
        vorn_test::MessageCapture capture;
        EXPECT_FALSE(action.property_value_is_valid(row.property, row.rejected, nullptr));
        EXPECT_EQ(capture.message_ids(), std::vector<unsigned>{row.warning});
    }
}

TEST(ActionAcceptance, WarningTextQuotesTheRejectedValue) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_READ_DATA);
    vorn_test::MessageCapture capture;
    EXPECT_FALSE(
        action.property_value_is_valid(VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, "16"));
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0].name,
              "VORN_INVALID_ACTION_DUMMY_CLOCK_CYCLE_WITH_EMPTY_STRING_OR_SPECIAL_CHAR");
    EXPECT_EQ(capture.messages()[0].text,
              "Action dummy clock cycle '16' is invalid. It contains either an empty string or "
              "special characters.");
}

TEST(ActionAcceptance, SuppressedWarningPostsNothingButStillExplains) {
    SuppressionGuard guard;
    MSG_INDEX::get_default_index()->set_suppressed(20500, true);
    VERDICT v = judge(VORN_ACT_PROPERTY_ERASE_DELAY, "soon");
    EXPECT_FALSE(v.accepted);
    EXPECT_TRUE(v.posted.empty());
    EXPECT_EQ(v.err_msg,
              "Action delay 'soon' is invalid. It contains either an empty string or special "
              "characters.");
}

TEST(ActionAcceptance, RulesDoNotDependOnTheActionType) {
    // The rule follows the property, whichever action asks.
    VORN_QSPI_ACTION custom(VORN_ACT_TYPE_CUSTOM);
    vorn_test::MessageCapture capture;
    EXPECT_TRUE(custom.property_value_is_valid(VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, "256"));
    EXPECT_FALSE(custom.property_value_is_valid(VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, "128"));
}

TEST(ActionAcceptance, UnknownPropertyIsAnInternalError) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_ERASE);
    vorn_test::MessageCapture capture;
    std::string text = "kept";
    EXPECT_INTERNAL_ERROR(
        action.property_value_is_valid(static_cast<VORN_ACT_PROPERTY>(40), "x", &text),
        "Unknown action property enum");
    EXPECT_INTERNAL_ERROR(
        action.property_value_is_valid(static_cast<VORN_ACT_PROPERTY>(-1), "x", &text),
        "Unknown action property enum");
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(capture.records().empty());
}

// Each row: a property, texts it accepts, texts it refuses.
struct TEXT_RULE {
    VORN_ACT_PROPERTY property;
    std::vector<std::string> good;
    std::vector<std::string> bad;
};

void expect_rules(const std::vector<TEXT_RULE>& rules) {
    for (const TEXT_RULE& rule : rules) {
        for (const std::string& text : rule.good)
            EXPECT_TRUE(accepts(rule.property, text)) << rule.property << " '" << text << "'";
        for (const std::string& text : rule.bad)
            EXPECT_FALSE(accepts(rule.property, text)) << rule.property << " '" << text << "'";
    }
}

TEST(ActionNumericText, HexNeedsLowerCasePrefixAtTheStartAndRangesUseTheValue) {
    expect_rules({
        {VORN_ACT_PROPERTY_WRITE_REG_DELAY,
         // Beyond 64 bits is still a number.
         {"0x", "0xFF", "0xabcdef", "255", "000", "18446744073709551615"},
         {"0x1G", "0X10", "1x", "10x", "x10", "00x1", "0x0x1", "ff", "12 ", " 12", "+12", ""}},
        {VORN_ACT_PROPERTY_ERASE_ADDRESS, {"0x"}, {"0x 10"}},
        // "0x" reads as nothing, so as 0.
        {VORN_ACT_PROPERTY_READ_REG_DATA_LENGTH, {"0x100", "0x1"}, {"0x101", "0x0", "0x"}},
        {VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, {"0xF", "0"}, {"0x10"}},
        {VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, {"0x100"}, {"255"}},
        {VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT, {"0x10"}, {"0x0"}},
        // Beyond 32 bits still counts as a value other than 0.
        {VORN_ACT_PROPERTY_ERASE_ERASE_SIZE, {"0x100000000"}, {}},
    });
}

TEST(ActionNumericText, FileReferenceOnlyWhereTheRuleAllowsIt) {
    for (VORN_ACT_PROPERTY p :
         {VORN_ACT_PROPERTY_READ_REG_DATA_LENGTH, VORN_ACT_PROPERTY_READ_DATA_DATA_LENGTH,
          VORN_ACT_PROPERTY_WRITE_DATA_ADDRESS, VORN_ACT_PROPERTY_READ_DATA_ADDRESS,
          VORN_ACT_PROPERTY_ERASE_ADDRESS, VORN_ACT_PROPERTY_WRITE_REG_DATA,
          VORN_ACT_PROPERTY_WRITE_DATA_DATA, VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA,
          VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA, VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA_MASK,
          VORN_ACT_PROPERTY_READ_DATA_EXPECTED_DATA_MASK})
        EXPECT_TRUE(accepts(p, "data.jic")) << p;
    for (VORN_ACT_PROPERTY p :
         {VORN_ACT_PROPERTY_WRITE_REG_DELAY, VORN_ACT_PROPERTY_WRITE_REG_COMMAND,
          VORN_ACT_PROPERTY_WRITE_DATA_PAGE_SIZE, VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT,
          VORN_ACT_PROPERTY_ERASE_ERASE_SIZE, VORN_ACT_PROPERTY_ERASE_ADDRESSING_MODE,
          VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, VORN_ACT_PROPERTY_ERASE_BUS_WIDTH,
          VORN_ACT_PROPERTY_CUSTOM_DIRECTION})
        EXPECT_FALSE(accepts(p, "data.jic")) << p;
}

TEST(ActionTextRules, ByteListsNamesAndChoices) {
    expect_rules({
        // A command is exactly one byte.
        {VORN_ACT_PROPERTY_WRITE_REG_COMMAND,
         {"0x06", "0x6", "6", "255", "  0x06"},
         {"256", "0x123", "0x106", "0x", "0X06", "0x06\t", "0x06 0x01", "   ", ""}},
        // Data takes any number of bytes or nothing.
        {VORN_ACT_PROPERTY_WRITE_REG_DATA,
         {"", "0x00", " 0x0A  0x0B ", "1 2 3 4 5 6 7 8 9 10"},
         {"0x0A\t0x0B", "0x0A,0x0B", "0x123", "256", "0x", "  ", "0x0A 0xZZ"}},
        {VORN_ACT_PROPERTY_ERASE_NAME,
         {"Write Enable_1", "_", " a "},
         {"  ", "", "Write-Enable", "Write\tEnable", "caf\xC3\xA9"}},
        {VORN_ACT_PROPERTY_WRITE_REG_BUS_WIDTH, {}, {"1-1-1"}},
        {VORN_ACT_PROPERTY_WRITE_DATA_BUS_WIDTH, {"1-1-1"}, {"1-1-1 "}},
        {VORN_ACT_PROPERTY_CUSTOM_DIRECTION, {"start", "end", "nil"}, {"Start", "none", ""}},
        {VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION, {" ", "End of data?"}, {}},
    });
}

// ---- conversions ----------------------------------------------------------------------------

TEST(ActionConversion, DwordReadsByteListsLittleEndianElseOneNumber) {
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_READ_REGISTER);
    const VORN_ACT_PROPERTY p = VORN_ACT_PROPERTY_READ_REG_EXPECTED_DATA;
    const struct {
        const char* text;
        unsigned int value;
    } cases[] = {
        {"", 0},
        {"0x06", 6},
        {"256", 256},
        {"4096", 4096},
        {"0x1000", 0x1000},  // too long for a byte token, read as one number
        {"0x20 0x01", 0x0120},
        {"0x03 0x00 0xFF", 0xFF0003},
        {"1 2 3 4", 0x04030201},
        {"0x11 0x22 0x33 0x44 0x55", 0x44332211},
        {" 0x0A  0x0B ", 0x0B0A},
    };
    for (const auto& c : cases) {
        action.set_property_value(p, c.text);
        EXPECT_EQ(action.get_property_value_in_dword(p), c.value) << "'" << c.text << "'";
    }
    // A property without a value reads as 0.
    EXPECT_EQ(action.get_property_value_in_dword(VORN_ACT_PROPERTY_READ_REG_COMMAND), 0u);
    EXPECT_EQ(action.get_property_value_in_dword(VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT), 1u);
}

TEST(ActionConversion, ByteArrayHoldsTheBytesInTextOrderOrIsNull) {
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"0x03 0x00 0xFF 7", {0x03, 0x00, 0xFF, 0x07}}, {"", {}}, {"0x03 0x123", {}}};
    VORN_QSPI_ACTION action(VORN_ACT_TYPE_WRITE_REGISTER);
    for (const auto& [text, expected] : cases) {
        action.set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DATA, text);
        unsigned int count = 99;
        bool ok = expected.empty();
        std::unique_ptr<unsigned char[]> bytes(
            action.get_property_value_in_byte_array(VORN_ACT_PROPERTY_WRITE_REG_DATA, &count, &ok));
        EXPECT_EQ(ok, !expected.empty()) << text;
        EXPECT_EQ(std::vector<int>(bytes.get(), bytes.get() + (bytes ? count : 0)), expected)
            << text;
        EXPECT_EQ(count, expected.size()) << text;
        EXPECT_EQ(bytes == nullptr, expected.empty()) << text;
    }
    action.set_property_value(VORN_ACT_PROPERTY_WRITE_REG_DATA, "");
    EXPECT_EQ(
        action.get_property_value_in_byte_array(VORN_ACT_PROPERTY_WRITE_REG_DATA, nullptr, nullptr),
        nullptr);
}
