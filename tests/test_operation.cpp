// QSPI operations: construction from the tables, ownership of actions, deep copies.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "vorn_qspi_action.h"
#include "vorn_qspi_operation.h"
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
            EXPECT_EQ(e.file(), "pgm/vorn/vorn_qspi_operation");   \
        }                                                          \
    } while (0)

// An action that writes its tag into a log when it is destroyed.
class TrackedAction : public VORN_QSPI_ACTION {
  public:
    TrackedAction(std::vector<std::string>* log, std::string tag)
        : VORN_QSPI_ACTION(VORN_ACT_TYPE_WRITE_REGISTER), m_log(log), m_tag(std::move(tag)) {
        set_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME, m_tag);
    }
    ~TrackedAction() override { m_log->push_back(m_tag); }

  private:
    std::vector<std::string>* m_log;
    std::string m_tag;
};

// An action of some other family; a QSPI operation cannot copy it.
class ForeignAction : public VORN_ACTION {
  public:
    std::string get_property_name(VORN_ACT_PROPERTY) const override { return {}; }
    std::string get_property_value(VORN_ACT_PROPERTY) const override { return {}; }
    unsigned int get_property_value_in_dword(VORN_ACT_PROPERTY) const override { return 0; }
    unsigned char* get_property_value_in_byte_array(VORN_ACT_PROPERTY, unsigned int*,
                                                    bool*) const override {
        return nullptr;
    }
    std::vector<std::string> get_property_value_list(VORN_ACT_PROPERTY) const override {
        return {};
    }
    void set_property_value(VORN_ACT_PROPERTY, std::string) override {}
    bool property_value_is_valid(VORN_ACT_PROPERTY, std::string, std::string*) const override {
        return true;
    }
    bool property_value_is_enable(VORN_ACT_PROPERTY) const override { return true; }
};

VORN_QSPI_ACTION* named_action(VORN_ACT_TYPE type, const std::string& name,
                               VORN_ACT_PROPERTY name_property) {
    auto* action = new VORN_QSPI_ACTION(type);
    action->set_property_value(name_property, name);
    return action;
}

}  // namespace

TEST(OperationConstruction, NameAndDescriptionComeFromTheTables) {
    for (int t = VORN_OP_TYPE_INITIALIZATION; t <= VORN_OP_TYPE_TERMINATION; ++t) {
        VORN_QSPI_OPERATION op(static_cast<VORN_OP_TYPE>(t));
        EXPECT_EQ(op.get_type(), t);
        EXPECT_EQ(op.get_name(), VORN_OP_TYPE_NAME[t]);
        EXPECT_EQ(op.get_description(), VORN_OP_TYPE_DESC[t]);
        ASSERT_NE(op.get_action_list(), nullptr);
        EXPECT_TRUE(op.get_action_list()->empty());
    }
    VORN_QSPI_OPERATION erase(VORN_OP_TYPE_ERASE);
    EXPECT_EQ(erase.get_name(), "Erase");
    EXPECT_NE(erase.get_description().find("between \xE2\x80\x9C"
                                           "Erase data\xE2\x80\x9D and \xE2\x80\x9C"
                                           "End of data?\xE2\x80\x9D to decide"),
              std::string::npos);
    EXPECT_EQ(VORN_QSPI_OPERATION(VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE).get_name(),
              "Verify/Blank-Check/Examine");
}

TEST(OperationConstruction, UnknownTypeIsAnInternalError) {
    EXPECT_INTERNAL_ERROR(VORN_QSPI_OPERATION(static_cast<VORN_OP_TYPE>(5)),
                          "Unknown operation type");
    EXPECT_INTERNAL_ERROR(VORN_QSPI_OPERATION(static_cast<VORN_OP_TYPE>(-1)),
                          "Unknown operation type");
}

TEST(OperationActions, AddedActionsKeepTheirOrderAndNullIsRefused) {
    VORN_QSPI_OPERATION op(VORN_OP_TYPE_PROGRAM);
    VORN_ACTION* first = named_action(VORN_ACT_TYPE_WRITE_REGISTER, "Write enable",
                                      VORN_ACT_PROPERTY_WRITE_REG_NAME);
    VORN_ACTION* second =
        named_action(VORN_ACT_TYPE_WRITE_DATA, "Program", VORN_ACT_PROPERTY_WRITE_DATA_NAME);
    op.add_action_into_list(first);
    op.add_action_into_list(second);
    const std::vector<VORN_ACTION*>* list = op.get_action_list();
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0], first);
    EXPECT_EQ((*list)[1], second);
    EXPECT_EQ(list, op.get_action_list());
    // A null action is refused and the list stays as it was.
    EXPECT_INTERNAL_ERROR(op.add_action_into_list(nullptr), "action");
    EXPECT_EQ(list->size(), 2u);
}

TEST(OperationActions, ClearDeletesLastFirst) {
    std::vector<std::string> log;
    VORN_QSPI_OPERATION op(VORN_OP_TYPE_INITIALIZATION);
    op.add_action_into_list(new TrackedAction(&log, "a"));
    op.add_action_into_list(new TrackedAction(&log, "b"));
    op.add_action_into_list(new TrackedAction(&log, "c"));
    op.clear_action_list();
    EXPECT_EQ(log, (std::vector<std::string>{"c", "b", "a"}));
    EXPECT_TRUE(op.get_action_list()->empty());

    // The list is usable again after clearing.
    op.add_action_into_list(new TrackedAction(&log, "d"));
    EXPECT_EQ(op.get_action_list()->size(), 1u);
    op.clear_action_list();
    op.clear_action_list();
    EXPECT_EQ(log.back(), "d");
}

TEST(OperationActions, DestructionDeletesEveryAction) {
    std::vector<std::string> log;
    {
        VORN_QSPI_OPERATION op(VORN_OP_TYPE_TERMINATION);
        op.add_action_into_list(new TrackedAction(&log, "x"));
        op.add_action_into_list(new TrackedAction(&log, "y"));
    }
    EXPECT_EQ(log, (std::vector<std::string>{"y", "x"}));

    log.clear();
    std::unique_ptr<VORN_OPERATION> base(new VORN_QSPI_OPERATION(VORN_OP_TYPE_ERASE));
    base->add_action_into_list(new TrackedAction(&log, "z"));
    base.reset();
    EXPECT_EQ(log, std::vector<std::string>{"z"});
}

TEST(OperationCopy, CopyOwnsNewActionsWithTheSameValues) {
    auto source = std::make_unique<VORN_QSPI_OPERATION>(VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE);
    VORN_QSPI_ACTION* read =
        named_action(VORN_ACT_TYPE_READ_DATA, "Read back", VORN_ACT_PROPERTY_READ_DATA_NAME);
    read->set_property_value(VORN_ACT_PROPERTY_READ_DATA_COMMAND, "0x0B");
    read->set_property_value(VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE, "8");
    source->add_action_into_list(read);
    source->add_action_into_list(new VORN_QSPI_ACTION(VORN_ACT_TYPE_CUSTOM));

    VORN_QSPI_OPERATION copy(*source);
    EXPECT_EQ(copy.get_type(), VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE);
    EXPECT_EQ(copy.get_name(), source->get_name());
    EXPECT_EQ(copy.get_description(), source->get_description());
    const std::vector<VORN_ACTION*>& actions = *copy.get_action_list();
    ASSERT_EQ(actions.size(), 2u);
    EXPECT_NE(actions[0], (*source->get_action_list())[0]);
    EXPECT_NE(actions[1], (*source->get_action_list())[1]);

    // Deleting the source must leave the copy whole.
    source.reset();
    EXPECT_EQ(actions[0]->get_type(), VORN_ACT_TYPE_READ_DATA);
    EXPECT_EQ(actions[0]->get_name(), "Read Data");
    EXPECT_EQ(actions[0]->get_property_enum_list().size(), 10u);
    EXPECT_EQ(actions[0]->get_property_value(VORN_ACT_PROPERTY_READ_DATA_NAME), "Read back");
    EXPECT_EQ(actions[0]->get_property_value(VORN_ACT_PROPERTY_READ_DATA_COMMAND), "0x0B");
    EXPECT_EQ(actions[0]->get_property_value(VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE), "8");
    EXPECT_EQ(actions[0]->get_property_value(VORN_ACT_PROPERTY_READ_DATA_BUS_WIDTH), "1-1-1");
    EXPECT_EQ(actions[1]->get_type(), VORN_ACT_TYPE_CUSTOM);
    EXPECT_EQ(actions[1]->get_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION), "");
}

TEST(OperationCopy, EditingTheCopyLeavesTheSourceAlone) {
    VORN_QSPI_OPERATION source(VORN_OP_TYPE_PROGRAM);
    source.add_action_into_list(named_action(VORN_ACT_TYPE_WRITE_REGISTER, "Write enable",
                                             VORN_ACT_PROPERTY_WRITE_REG_NAME));
    VORN_QSPI_OPERATION copy(source);
    (*copy.get_action_list())[0]->set_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME, "Changed");
    copy.add_action_into_list(new VORN_QSPI_ACTION(VORN_ACT_TYPE_ERASE));
    EXPECT_EQ((*source.get_action_list())[0]->get_property_value(VORN_ACT_PROPERTY_WRITE_REG_NAME),
              "Write enable");
    EXPECT_EQ(source.get_action_list()->size(), 1u);
    copy.clear_action_list();
    EXPECT_EQ(source.get_action_list()->size(), 1u);
}

TEST(OperationCopy, ForeignActionStopsTheCopyWithoutLeaks) {
    // The copies made before the foreign action must be freed (checked by the sanitizer build).
    VORN_QSPI_OPERATION source(VORN_OP_TYPE_PROGRAM);
    source.add_action_into_list(new VORN_QSPI_ACTION(VORN_ACT_TYPE_WRITE_REGISTER));
    source.add_action_into_list(new VORN_QSPI_ACTION(VORN_ACT_TYPE_READ_REGISTER));
    source.add_action_into_list(new ForeignAction());
    EXPECT_INTERNAL_ERROR(VORN_QSPI_OPERATION copy(source), "action");
    EXPECT_EQ(source.get_action_list()->size(), 3u);
}
