// The element base and the generated element classes of both formats: construction checks,
// attributes, typed child lists, count declarations and values.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "pgm_common_xml_vorn_sdmmc_auto_export.h"
#include "vorn_test_support.h"

using vorn_test::internal_error_of;

namespace {

const char* const QSPI_HEADER = "h/pgm_common_xml_vorn_qspi_auto_export";
const char* const SDMMC_HEADER = "h/pgm_common_xml_vorn_sdmmc_auto_export";

using namespace std::string_literals;

// ---- name table -----------------------------------------------------------------------------

TEST(XmlEnum, EveryTagOfBothFormatsSitsAtItsValue) {
    EXPECT_STREQ(PGM_COMMON_XML_ENUM_STRING[21], "SDM");
    EXPECT_STREQ(PGM_COMMON_XML_ENUM_STRING[196], "ADDRESS");
    EXPECT_STREQ(PGM_COMMON_XML_ENUM_STRING[298], "DATA");
    // The tags of the two formats sit in one run from 342 on.
    std::istringstream run(
        "WRITE_REG READ_REG WRITE_DATA READ_DATA ERASE CUSTOM GOLDEN_TEMPLATE MICRON "
        "PROGRAMMING_FLOW TERMINATION ACTION EXPECTED_DATA_MASK EXPECTED_DATA NAME DATA_LENGTH "
        "DIRECTION ATTEMPT_COUNT ERASE_SIZE DELAY COMMAND PAGE_SIZE ADDRESSING_MODE "
        "ACT_DUMMY_CLOCK_CYCLE BUS_WIDTH DESCRIPTION INITIALIZATION PROGRAM "
        "VERIFY_BLANKCHECK_EXAMINE SFL CYPRESS ISSI MACRONIX WINBOND FLASH DEVICE_INFO "
        "TOTAL_DEVICE_DIE DUMMY_CLOCK_CYCLE_X4 PROG_FLOW_TEMPLATE DEVICE_NAME DUMMY_CLOCK_CYCLE "
        "DEVICE_ID DEVICE_IO_VOLTAGE DEVICE_DENSITY USER_TEMPLATE TEMPLATE_NAME QSPI_FLASH "
        "SDMMC_FLASH");
    int value = 342;
    for (std::string tag; run >> tag; ++value)
        EXPECT_EQ(PGM_COMMON_XML_ENUM_STRING[value], tag) << value;
    EXPECT_EQ(value, 389);

    EXPECT_EQ(PGM_COMMON_XML_ENUM__INVALID__, 0);
    EXPECT_EQ(PGM_COMMON_XML_ENUM__MAX__, 486);
    EXPECT_EQ(PGM_COMMON_XML_ENUM_DEVICE_INFO, 376);
    EXPECT_EQ(PGM_COMMON_XML_ENUM_SDMMC_FLASH, 388);
    EXPECT_EQ(PGM_COMMON_XML_ENUM_STRING[0], "_INVALID__"s);
    EXPECT_EQ(PGM_COMMON_XML_ENUM_STRING[486], "_MAX__"s);
}

TEST(XmlEnum, NamesAreUniqueSoThatEveryTagReadsBackToOneMember) {
    std::set<std::string> names;
    for (int i = 0; i <= PGM_COMMON_XML_ENUM__MAX__; ++i) {
        ASSERT_NE(PGM_COMMON_XML_ENUM_STRING[i], nullptr) << i;
        EXPECT_TRUE(names.insert(PGM_COMMON_XML_ENUM_STRING[i]).second)
            << PGM_COMMON_XML_ENUM_STRING[i];
    }
}

// ---- base construction ----------------------------------------------------------------------

struct PLAIN : PGM_COMMON_XML_ELEMENT {
    PLAIN(int class_type, unsigned char type = PGM_XML_TYPE_CONTAINER,
          unsigned char exist = PGM_XML_EXIST_NONE)
        : PGM_COMMON_XML_ELEMENT(static_cast<PGM_COMMON_XML_ENUM>(class_type),
                                 static_cast<PGM_COMMON_XML_ENUM>(class_type), type, exist, "", "",
                                 nullptr) {}
};

// Counts its own destruction, to see what a tree deletes.
struct COUNTED : PGM_COMMON_XML_ELEMENT {
    explicit COUNTED(int* deaths)
        : PGM_COMMON_XML_ELEMENT(PGM_COMMON_XML_ENUM_FLASH, PGM_COMMON_XML_ENUM_FLASH,
                                 PGM_XML_TYPE_CONTAINER, PGM_XML_EXIST_NONE, "", "", nullptr),
          m_deaths(deaths) {}
    ~COUNTED() override { ++*m_deaths; }
    int* m_deaths;
};

TEST(XmlElementBase, ConstructorChecksReportTheirConditionsFromTheHost) {
    auto e = internal_error_of([] { PLAIN(0); });
    EXPECT_STREQ(e.what(),
                 "class_type != PGM_COMMON_XML_ENUM__INVALID__ && class_type <= "
                 "PGM_COMMON_XML_ENUM__MAX__");
    EXPECT_EQ(e.module(), "PGM");
    EXPECT_EQ(e.file(), "host/pgm_common_xml");
    EXPECT_GT(e.line(), 0);

    EXPECT_STREQ(internal_error_of([] { PLAIN(487); }).what(),
                 "class_type != PGM_COMMON_XML_ENUM__INVALID__ && class_type <= "
                 "PGM_COMMON_XML_ENUM__MAX__");
    EXPECT_STREQ(internal_error_of([] { PLAIN(375, 11); }).what(), "type < PGM_XML_TYPE_INVALID");
    EXPECT_STREQ(internal_error_of([] { PLAIN(375, 0, 3); }).what(),
                 "exist < PGM_XML_EXIST_INVALID");

    // The bounds themselves are fine.
    EXPECT_NO_THROW(PLAIN(486, 10, 2));
    EXPECT_NO_THROW(PLAIN(1));
}

TEST(XmlElementBase, AppendsTheThreeBuiltInAttributesInOrder) {
    PLAIN element(375);
    const auto& attributes = element.get_attributes();
    ASSERT_EQ(attributes.size(), 3u);
    const char* names[] = {"__if_continue__", "__if_skip__", "__hidden__"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(attributes[i].get_name(), names[i]);
        EXPECT_EQ(attributes[i].get_type(), PGM_XML_TYPE_STRING);
        EXPECT_EQ(attributes[i].get_exist(), PGM_XML_EXIST_OPTIONAL);
        EXPECT_EQ(attributes[i].get_ptr(), nullptr);
        EXPECT_FALSE(attributes[i].is_set());
    }
    EXPECT_TRUE(PGM_COMMON_XML_ATTRIBUTE_INFO::is_builtin_name("__hidden__"));
    EXPECT_FALSE(PGM_COMMON_XML_ATTRIBUTE_INFO::is_builtin_name("hidden"));
}

TEST(XmlElementBase, AttributeDescriptionsCheckNameAndSlot) {
    unsigned int slot = 0;
    EXPECT_STREQ(internal_error_of([&] {
                     PGM_COMMON_XML_ATTRIBUTE_INFO("", "", "", "", 4, 0, &slot);
                 }).what(),
                 "name.size()");
    EXPECT_STREQ(internal_error_of([&] {
                     PGM_COMMON_XML_ATTRIBUTE_INFO("__if_skip__", "", "", "", 5, 1, &slot);
                 }).what(),
                 "ptr == NULL");
    EXPECT_STREQ(internal_error_of([] {
                     PGM_COMMON_XML_ATTRIBUTE_INFO("version", "", "1", "", 4, 0, nullptr);
                 }).what(),
                 "ptr != NULL");
    EXPECT_NO_THROW(PGM_COMMON_XML_ATTRIBUTE_INFO("__hidden__", "", "", "", 5, 1, nullptr));

    PLAIN element(375);
    EXPECT_STREQ(internal_error_of([&] { element.add_attribute("", "", "", 4, 0, &slot); }).what(),
                 "name.size()");
    EXPECT_EQ(element.get_attributes().size(), 3u);
}

TEST(XmlElementBase, DeletingARootDeletesTheWholeTree) {
    int deaths = 0;
    auto* root = new COUNTED(&deaths);
    auto* middle = new COUNTED(&deaths);
    root->add_child(middle);
    middle->add_child(new COUNTED(&deaths));
    middle->add_child(new COUNTED(&deaths));
    delete root;
    EXPECT_EQ(deaths, 4);
}

TEST(XmlElementBase, AChildBelongsToOneParentAndNeverToItsOwnSubtree) {
    int deaths = 0;
    COUNTED a(&deaths);
    auto* b = new COUNTED(&deaths);
    a.add_child(b);
    EXPECT_EQ(b->get_parent(), &a);
    EXPECT_STREQ(internal_error_of([&] { a.add_child(b); }).what(), "child->get_parent() == NULL");

    // The top of a tree cannot go below itself or its own leaves.
    EXPECT_STREQ(internal_error_of([&] { a.add_child(&a); }).what(),
                 "child is not this element or one of its ancestors");
    auto* deep = new COUNTED(&deaths);
    b->add_child(deep);
    EXPECT_STREQ(internal_error_of([&] { deep->add_child(&a); }).what(),
                 "child is not this element or one of its ancestors");
    EXPECT_EQ(a.get_parent(), nullptr);
    a.add_child(nullptr);
    EXPECT_EQ(a.get_all_childs().size(), 1u);
}

// ---- generated classes ----------------------------------------------------------------------

TEST(XmlGeneratedClasses, PassTheirTagsCodesAndDefaultsToTheBase) {
    PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO info;
    EXPECT_EQ(info.get_class_type(), PGM_COMMON_XML_ENUM_DEVICE_INFO);
    EXPECT_EQ(info.get_sub_class_type(), PGM_COMMON_XML_ENUM_DEVICE_INFO);
    EXPECT_EQ(info.get_type(), PGM_XML_TYPE_CONTAINER);
    EXPECT_EQ(info.get_exist(), PGM_XML_EXIST_NONE);
    EXPECT_STREQ(info.get_tag(), "DEVICE_INFO");

    PGM_COMMON_XML_VORN_QSPI_DATA data;
    EXPECT_EQ(data.get_type(), PGM_XML_TYPE_STRING);
    EXPECT_EQ(data.get_exist(), PGM_XML_EXIST_OPTIONAL);
    EXPECT_EQ(data.value, "");

    PGM_COMMON_XML_VORN_QSPI_TOTAL_DEVICE_DIE die;
    EXPECT_EQ(die.get_type(), PGM_XML_TYPE_UINT);
    EXPECT_EQ(die.get_exist(), PGM_XML_EXIST_REQUIRED);
    EXPECT_EQ(die.get_default_value(), "0");
    EXPECT_EQ(die.get_value_text(), "0");

    PGM_COMMON_XML_VORN_SDMMC_DEVICE_DENSITY density;
    EXPECT_EQ(density.get_type(), PGM_XML_TYPE_STRING);
    EXPECT_EQ(density.get_exist(), PGM_XML_EXIST_REQUIRED);

    // The sub-class type names the tag the object stands for.
    PGM_COMMON_XML_VORN_QSPI_FLASH odd(PGM_COMMON_XML_ENUM_USER_TEMPLATE);
    EXPECT_EQ(odd.get_class_type(), PGM_COMMON_XML_ENUM_FLASH);
    EXPECT_EQ(odd.get_sub_class_type(), PGM_COMMON_XML_ENUM_USER_TEMPLATE);
    EXPECT_STREQ(odd.get_tag(), "USER_TEMPLATE");
}

TEST(XmlGeneratedClasses, DeclareTheirAttributesWithDefaultsInTheirSlots) {
    PGM_COMMON_XML_VORN_QSPI_ACTION action;
    const auto* type = action.find_attribute("type");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(action.get_attributes().size(), 4u);
    EXPECT_EQ(action.get_attributes().back().get_name(), "type");
    EXPECT_EQ(type->get_type(), PGM_XML_TYPE_ENUM);
    EXPECT_EQ(type->get_exist(), PGM_XML_EXIST_REQUIRED);
    EXPECT_EQ(type->get_default_value(), "_INVALID__");
    EXPECT_EQ(type->get_allowed_values(), "WRITE_REG|READ_REG|WRITE_DATA|READ_DATA|ERASE|CUSTOM");
    EXPECT_EQ(type->get_ptr(), &action.type);
    EXPECT_EQ(action.type, PGM_COMMON_XML_ENUM__INVALID__);

    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH qspi_root;
    EXPECT_EQ(qspi_root.version, 1u);
    EXPECT_EQ(qspi_root.find_attribute("version")->get_type(), PGM_XML_TYPE_UINT);
    PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH sdmmc_root;
    EXPECT_EQ(sdmmc_root.version, 1u);

    PGM_COMMON_XML_VORN_QSPI_DELAY delay;
    EXPECT_EQ(delay.unit, "us");
    EXPECT_EQ(delay.value, 0u);
    EXPECT_EQ(delay.find_attribute("unit")->get_type(), PGM_XML_TYPE_STRING);

    PGM_COMMON_XML_VORN_QSPI_DEVICE_NAME name;
    EXPECT_EQ(name.get_attributes().size(), 3u);
}

TEST(XmlGeneratedClasses, RefuseChildrenTheyDoNotAdmitWithTheirTags) {
    PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE user_template;
    auto info = std::make_unique<PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO>();
    auto e = internal_error_of([&] { user_template.add_child(info.get()); });
    EXPECT_STREQ(e.what(),
                 "Element \"USER_TEMPLATE\" does not support child element \"DEVICE_INFO\"");
    EXPECT_EQ(e.module(), "VORN");
    EXPECT_EQ(e.file(), QSPI_HEADER);
    // Refused: the tree is unchanged and the caller still owns the child.
    EXPECT_TRUE(user_template.get_all_childs().empty());
    EXPECT_EQ(info->get_parent(), nullptr);

    PGM_COMMON_XML_VORN_QSPI_DEVICE_NAME leaf;
    PGM_COMMON_XML_VORN_QSPI_NAME name;
    EXPECT_STREQ(internal_error_of([&] { leaf.group_child(&name, false, true); }).what(),
                 "Element \"DEVICE_NAME\" does not support child element \"NAME\"");

    // The same tag from the other format is another class.
    PGM_COMMON_XML_VORN_QSPI_FLASH qspi_flash;
    PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO sdmmc_info;
    EXPECT_STREQ(
        internal_error_of([&] { qspi_flash.group_child(&sdmmc_info, false, true); }).what(),
        "Element \"FLASH\" does not support child element \"DEVICE_INFO\"");

    PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO sdmmc_parent;
    PGM_COMMON_XML_VORN_QSPI_DEVICE_ID id;
    auto s = internal_error_of([&] { sdmmc_parent.group_child(&id, false, true); });
    EXPECT_STREQ(s.what(), "Element \"DEVICE_INFO\" does not support child element \"DEVICE_ID\"");
    EXPECT_EQ(s.file(), SDMMC_HEADER);
}

TEST(XmlGeneratedClasses, AdmitChildrenOfClassesDerivedFromTheirChildClasses) {
    struct HOST_NAME : PGM_COMMON_XML_VORN_QSPI_NAME {};
    PGM_COMMON_XML_VORN_QSPI_ACTION action;
    auto* derived = new HOST_NAME;
    action.add_child(derived);
    ASSERT_EQ(action.name.size(), 1u);
    EXPECT_EQ(action.name[0], derived);
    // A base element that only claims the kind is not of the class.
    PLAIN claims_name(PGM_COMMON_XML_ENUM_NAME);
    EXPECT_STREQ(internal_error_of([&] { action.group_child(&claims_name, false, true); }).what(),
                 "Element \"ACTION\" does not support child element \"NAME\"");
}

TEST(XmlGeneratedClasses, RemovalFromAnEmptyListNamesTheList) {
    PGM_COMMON_XML_VORN_QSPI_FLASH flash;
    PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO info;
    auto e = internal_error_of([&] { flash.group_child(&info, true, true); });
    EXPECT_STREQ(e.what(), "device_info.size()");
    EXPECT_EQ(e.module(), "VORN");
    EXPECT_EQ(e.file(), QSPI_HEADER);

    PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW flow;
    EXPECT_STREQ(internal_error_of([&] { flash.group_child(&flow, true, false); }).what(),
                 "programming_flow.size()");

    PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH root;
    PGM_COMMON_XML_VORN_SDMMC_FLASH sdmmc_flash;
    EXPECT_STREQ(internal_error_of([&] { root.group_child(&sdmmc_flash, true, true); }).what(),
                 "flash.size()");
    PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO sdmmc_info;
    PGM_COMMON_XML_VORN_SDMMC_DEVICE_NAME sdmmc_name;
    EXPECT_STREQ(internal_error_of([&] { sdmmc_info.group_child(&sdmmc_name, true, true); }).what(),
                 "device_name.size()");
}

TEST(XmlGeneratedClasses, GroupChildFilesAtEitherEndAndDropsTheEndEntry) {
    PGM_COMMON_XML_VORN_QSPI_INITIALIZATION op;
    PGM_COMMON_XML_VORN_QSPI_ACTION a, b, c;
    op.group_child(&a, false, true);
    op.group_child(&b, false, true);
    op.group_child(&c, false, false);
    EXPECT_EQ(op.action, (std::vector<PGM_COMMON_XML_VORN_QSPI_ACTION*>{&c, &a, &b}));

    // The entry at that end goes, whichever child is named.
    op.group_child(&a, true, true);
    EXPECT_EQ(op.action, (std::vector<PGM_COMMON_XML_VORN_QSPI_ACTION*>{&c, &a}));
    op.group_child(&a, true, false);
    EXPECT_EQ(op.action, (std::vector<PGM_COMMON_XML_VORN_QSPI_ACTION*>{&a}));

    op.clear_childs();
    EXPECT_TRUE(op.action.empty());
}

TEST(XmlGeneratedClasses, TypedListsFollowDocumentOrderThroughAddAndRemove) {
    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH root;
    auto* f1 = new PGM_COMMON_XML_VORN_QSPI_FLASH();
    auto* t1 = new PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE();
    auto* f2 = new PGM_COMMON_XML_VORN_QSPI_FLASH();
    auto* f3 = new PGM_COMMON_XML_VORN_QSPI_FLASH();
    root.add_child(f1);
    root.add_child(t1);
    root.add_child(f3);
    root.add_child(f2, f3);  // before f3
    EXPECT_EQ(root.flash, (std::vector<PGM_COMMON_XML_VORN_QSPI_FLASH*>{f1, f2, f3}));
    EXPECT_EQ(root.user_template.size(), 1u);
    EXPECT_EQ(root.get_all_childs(),
              (std::vector<PGM_COMMON_XML_ELEMENT*>{f1, t1, f2, f3}));

    // Middle, first and last children of a kind each leave the right ones behind.
    EXPECT_TRUE(root.remove_child(f2));
    EXPECT_EQ(root.flash, (std::vector<PGM_COMMON_XML_VORN_QSPI_FLASH*>{f1, f3}));
    EXPECT_TRUE(root.remove_child(f1));
    EXPECT_EQ(root.flash, (std::vector<PGM_COMMON_XML_VORN_QSPI_FLASH*>{f3}));
    EXPECT_EQ(f1->get_parent(), nullptr);
    EXPECT_FALSE(root.remove_child(f1));
    EXPECT_FALSE(root.remove_child(nullptr));
    delete f1;
    delete f2;

    PGM_COMMON_XML_VORN_QSPI_FLASH stranger;
    PGM_COMMON_XML_VORN_QSPI_FLASH orphan;
    EXPECT_STREQ(internal_error_of([&] { root.add_child(&orphan, &stranger); }).what(),
                 "before == NULL || before->get_parent() == this");
}

TEST(XmlGeneratedClasses, RefusedInsertionKeepsTheListsIntact) {
    PGM_COMMON_XML_VORN_QSPI_FLASH flash;
    auto* info = new PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO();
    flash.add_child(info);
    PGM_COMMON_XML_VORN_QSPI_TEMPLATE_NAME wrong;
    EXPECT_THROW(flash.add_child(&wrong, info), VORN_INTERNAL_ERROR);
    EXPECT_EQ(flash.get_all_childs(), (std::vector<PGM_COMMON_XML_ELEMENT*>{info}));
    EXPECT_EQ(flash.device_info,
              (std::vector<PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO*>{info}));
}

TEST(XmlGeneratedClasses, ChildQueriesByKindDirectAndDeep) {
    PGM_COMMON_XML_VORN_QSPI_SFL sfl;
    auto* init = new PGM_COMMON_XML_VORN_QSPI_INITIALIZATION();
    auto* erase = new PGM_COMMON_XML_VORN_QSPI_ERASE();
    sfl.add_child(init);
    sfl.add_child(erase);
    auto* a1 = new PGM_COMMON_XML_VORN_QSPI_ACTION();
    auto* a2 = new PGM_COMMON_XML_VORN_QSPI_ACTION();
    auto* a3 = new PGM_COMMON_XML_VORN_QSPI_ACTION();
    init->add_child(a1);
    init->add_child(a2);
    erase->add_child(a3);

    EXPECT_EQ(sfl.get_child_count(PGM_COMMON_XML_ENUM_ACTION, true), 0u);
    EXPECT_EQ(sfl.get_child_count(PGM_COMMON_XML_ENUM_ACTION, false), 3u);
    EXPECT_EQ(sfl.get_childs(PGM_COMMON_XML_ENUM_ACTION, false),
              (std::vector<PGM_COMMON_XML_ELEMENT*>{a1, a2, a3}));
    EXPECT_EQ(sfl.get_childs(PGM_COMMON_XML_ENUM_ERASE, true),
              (std::vector<PGM_COMMON_XML_ELEMENT*>{erase}));
    EXPECT_EQ(sfl.get_child_count(PGM_COMMON_XML_ENUM_PROGRAM, true), 0u);
    EXPECT_EQ(sfl.erase.size(), 1u);
    EXPECT_EQ(init->action.size(), 2u);
}

// ---- counts -----------------------------------------------------------------------------------

template <typename T>
T* with(T* parent, std::initializer_list<PGM_COMMON_XML_ELEMENT*> children) {
    for (auto* child : children) parent->add_child(child);
    return parent;
}

std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO> full_device_info() {
    auto info = std::make_unique<PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO>();
    with(info.get(),
         {new PGM_COMMON_XML_VORN_QSPI_DEVICE_NAME(), new PGM_COMMON_XML_VORN_QSPI_DEVICE_ID(),
          new PGM_COMMON_XML_VORN_QSPI_DEVICE_IO_VOLTAGE(),
          new PGM_COMMON_XML_VORN_QSPI_DEVICE_DENSITY(),
          new PGM_COMMON_XML_VORN_QSPI_TOTAL_DEVICE_DIE(),
          new PGM_COMMON_XML_VORN_QSPI_DUMMY_CLOCK_CYCLE(),
          new PGM_COMMON_XML_VORN_QSPI_DUMMY_CLOCK_CYCLE_X4(),
          new PGM_COMMON_XML_VORN_QSPI_PROG_FLOW_TEMPLATE()});
    return info;
}

TEST(XmlCounts, DeviceInfoNeedsEachOfItsEightLeavesOnce) {
    auto info = full_device_info();
    EXPECT_TRUE(info->check_child_count());
    EXPECT_EQ(info->get_count_violation(), "");

    auto* id = info->device_id.front();
    ASSERT_TRUE(info->remove_child(id));
    delete id;
    EXPECT_FALSE(info->check_child_count());
    EXPECT_EQ(info->get_count_violation(),
              "element \"DEVICE_INFO\" holds 0 \"DEVICE_ID\", allowed exactly 1");

    info->add_child(new PGM_COMMON_XML_VORN_QSPI_DEVICE_ID());
    info->add_child(new PGM_COMMON_XML_VORN_QSPI_DEVICE_NAME());
    EXPECT_FALSE(info->check_child_count());
    EXPECT_EQ(info->get_count_violation(),
              "element \"DEVICE_INFO\" holds 2 \"DEVICE_NAME\", allowed exactly 1");
}

TEST(XmlCounts, FlashHoldsOneDeviceInfoAndOneProgrammingFlow) {
    PGM_COMMON_XML_VORN_QSPI_FLASH flash;
    EXPECT_FALSE(flash.check_child_count());
    flash.add_child(full_device_info().release());
    flash.add_child(new PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW());
    EXPECT_TRUE(flash.check_child_count());
    flash.add_child(full_device_info().release());
    EXPECT_FALSE(flash.check_child_count());
    EXPECT_EQ(flash.get_count_violation(),
              "element \"FLASH\" holds 2 \"DEVICE_INFO\", allowed exactly 1");
}

TEST(XmlCounts, OperationsActionsAndRootsMayBeEmpty) {
    EXPECT_TRUE(PGM_COMMON_XML_VORN_QSPI_PROGRAM().check_child_count());
    EXPECT_TRUE(PGM_COMMON_XML_VORN_QSPI_ACTION().check_child_count());
    EXPECT_TRUE(PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH().check_child_count());
    EXPECT_TRUE(PGM_COMMON_XML_VORN_SDMMC_SDMMC_FLASH().check_child_count());

    PGM_COMMON_XML_VORN_QSPI_TERMINATION op;
    for (int i = 0; i < 5; ++i) op.add_child(new PGM_COMMON_XML_VORN_QSPI_ACTION());
    EXPECT_TRUE(op.check_child_count());

    PGM_COMMON_XML_VORN_QSPI_ACTION action;
    action.add_child(new PGM_COMMON_XML_VORN_QSPI_NAME());
    action.add_child(new PGM_COMMON_XML_VORN_QSPI_DELAY());
    EXPECT_TRUE(action.check_child_count());
    action.add_child(new PGM_COMMON_XML_VORN_QSPI_DELAY());
    EXPECT_EQ(action.get_count_violation(), "element \"ACTION\" holds 2 \"DELAY\", allowed 0 to 1");
}

TEST(XmlCounts, FlowsNeedEveryOperationOnce) {
    PGM_COMMON_XML_VORN_QSPI_SDM sdm;
    with(&sdm, {new PGM_COMMON_XML_VORN_QSPI_INITIALIZATION(),
                new PGM_COMMON_XML_VORN_QSPI_PROGRAM(), new PGM_COMMON_XML_VORN_QSPI_ERASE(),
                new PGM_COMMON_XML_VORN_QSPI_VERIFY_BLANKCHECK_EXAMINE()});
    EXPECT_EQ(sdm.get_count_violation(), "") << "not checked yet";
    EXPECT_FALSE(sdm.check_child_count());
    EXPECT_EQ(sdm.get_count_violation(),
              "element \"SDM\" holds 0 \"TERMINATION\", allowed exactly 1");
    sdm.add_child(new PGM_COMMON_XML_VORN_QSPI_TERMINATION());
    EXPECT_TRUE(sdm.check_child_count());
    // Checking again does not pile up declarations.
    EXPECT_TRUE(sdm.check_child_count());
}

TEST(XmlCounts, SdmmcFlashNeedsItsDeviceInfoAndTheInfoItsThreeLeaves) {
    PGM_COMMON_XML_VORN_SDMMC_FLASH flash;
    EXPECT_FALSE(flash.check_child_count());
    EXPECT_EQ(flash.get_count_violation(),
              "element \"FLASH\" holds 0 \"DEVICE_INFO\", allowed exactly 1");
    auto* info = new PGM_COMMON_XML_VORN_SDMMC_DEVICE_INFO();
    flash.add_child(info);
    EXPECT_TRUE(flash.check_child_count());
    with(info, {new PGM_COMMON_XML_VORN_SDMMC_DEVICE_NAME(),
                new PGM_COMMON_XML_VORN_SDMMC_DEVICE_IO_VOLTAGE()});
    EXPECT_FALSE(info->check_child_count());
    EXPECT_EQ(info->get_count_violation(),
              "element \"DEVICE_INFO\" holds 0 \"DEVICE_DENSITY\", allowed exactly 1");
    info->add_child(new PGM_COMMON_XML_VORN_SDMMC_DEVICE_DENSITY());
    EXPECT_TRUE(info->check_child_count());
}

TEST(XmlCounts, TheGoldenTemplatePartIsLeftToTheLoader) {
    // A golden template's vendor set is judged by the loader, which names what is missing.
    PGM_COMMON_XML_VORN_QSPI_GOLDEN_TEMPLATE golden;
    EXPECT_TRUE(golden.check_child_count());
    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH root;
    root.add_child(new PGM_COMMON_XML_VORN_QSPI_GOLDEN_TEMPLATE());
    root.add_child(new PGM_COMMON_XML_VORN_QSPI_GOLDEN_TEMPLATE());
    EXPECT_TRUE(root.check_child_count());
    EXPECT_EQ(root.golden_template.size(), 2u);
}

TEST(XmlCounts, DeclarationsMustBeOneValueOrARange) {
    PLAIN element(375);
    EXPECT_THROW(element.check_count(PGM_COMMON_XML_ENUM_FLASH, {}), VORN_INTERNAL_ERROR);
    EXPECT_THROW(element.check_count(PGM_COMMON_XML_ENUM_FLASH, {{1, 2}}), VORN_INTERNAL_ERROR);
    EXPECT_THROW(element.check_count(PGM_COMMON_XML_ENUM_FLASH, {{2}, {1}}), VORN_INTERNAL_ERROR);
    element.check_count(PGM_COMMON_XML_ENUM_FLASH, {{1}, {PGM_XML_COUNT_UNBOUNDED}});
    EXPECT_FALSE(element.check_child_count());
    EXPECT_EQ(element.get_count_violation(),
              "element \"FLASH\" holds 0 \"FLASH\", allowed at least 1");
}

TEST(XmlCounts, ATableDeclaresLikeOneCheckCountPerEntry) {
    static const PGM_COMMON_XML_COUNT_RULE table[] = {
        {PGM_COMMON_XML_ENUM_DEVICE_INFO, 1, 1},
        {PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW, 0, PGM_XML_COUNT_UNBOUNDED},
    };
    PLAIN element(375);
    element.declare_counts(table);
    EXPECT_FALSE(element.check_child_count());
    EXPECT_EQ(element.get_count_violation(),
              "element \"FLASH\" holds 0 \"DEVICE_INFO\", allowed exactly 1");

    // A later single declaration replaces the table's entry for that kind only, and the
    // table itself is left as it was for other elements.
    element.check_count(PGM_COMMON_XML_ENUM_DEVICE_INFO, {{0}, {1}});
    element.check_count(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW, {{2}});
    EXPECT_EQ(element.get_count_violation(),
              "element \"FLASH\" holds 0 \"PROGRAMMING_FLOW\", allowed exactly 2");
    EXPECT_EQ(table[0].min, 1u);
    PLAIN other(375);
    other.declare_counts(table);
    other.add_child(new PLAIN(376));
    other.add_child(new PLAIN(350));
    other.add_child(new PLAIN(350));
    EXPECT_TRUE(other.check_child_count());

    // A table after single declarations merges into them.
    PLAIN merged(375);
    merged.check_count(PGM_COMMON_XML_ENUM_FLASH, {{1}});
    merged.declare_counts(table);
    EXPECT_EQ(merged.get_count_violation(),
              "element \"FLASH\" holds 0 \"FLASH\", allowed exactly 1");
}

TEST(XmlCounts, ATableWithARepeatedKindKeepsTheLastEntry) {
    static const PGM_COMMON_XML_COUNT_RULE table[] = {
        {PGM_COMMON_XML_ENUM_DEVICE_INFO, 0, 0},
        {PGM_COMMON_XML_ENUM_FLASH, 0, 1},
        {PGM_COMMON_XML_ENUM_DEVICE_INFO, 2, 2},
    };
    PLAIN element(375);
    element.declare_counts(table);
    element.add_child(new PLAIN(376));
    EXPECT_EQ(element.get_count_violation(),
              "element \"FLASH\" holds 1 \"DEVICE_INFO\", allowed exactly 2");
    element.add_child(new PLAIN(376));
    EXPECT_TRUE(element.check_child_count());
}

TEST(XmlCounts, ATableWithAnInvertedRangeIsAnInternalError) {
    static const PGM_COMMON_XML_COUNT_RULE table[] = {{PGM_COMMON_XML_ENUM_FLASH, 3, 2}};
    PLAIN element(375);
    EXPECT_STREQ(internal_error_of([&] { element.declare_counts(table); }).what(),
                 "counts.front() <= counts.back()");
    EXPECT_TRUE(element.check_child_count()) << "nothing declared";
}

TEST(XmlCounts, EveryElementOfAClassCountsItsOwnChildren) {
    // The declarations are shared by the class; the counts are not.
    PGM_COMMON_XML_VORN_QSPI_ACTION one, two;
    one.add_child(new PGM_COMMON_XML_VORN_QSPI_DELAY());
    one.add_child(new PGM_COMMON_XML_VORN_QSPI_DELAY());
    two.add_child(new PGM_COMMON_XML_VORN_QSPI_DELAY());
    EXPECT_FALSE(one.check_child_count());
    EXPECT_TRUE(two.check_child_count());
    EXPECT_FALSE(one.check_child_count());
    EXPECT_EQ(two.get_count_violation(), "");
}

// ---- shared attribute descriptions ------------------------------------------------------------

TEST(XmlSharedAttributes, ABuiltInSetOnOneElementLeavesTheOthersAlone) {
    PGM_COMMON_XML_VORN_QSPI_NAME first, second;
    EXPECT_TRUE(first.read_attribute_text("__hidden__", "yes"));
    const auto* hidden = first.find_attribute("__hidden__");
    ASSERT_NE(hidden, nullptr);
    EXPECT_TRUE(hidden->is_set());
    EXPECT_EQ(hidden->get_value_text(), "yes");
    EXPECT_EQ(first.get_attribute_text("__hidden__"), "yes");
    EXPECT_EQ(first.get_attributes().size(), 3u);

    for (const auto& attribute : second.get_attributes()) {
        EXPECT_FALSE(attribute.is_set()) << attribute.get_name();
        EXPECT_EQ(attribute.get_value_text(), "") << attribute.get_name();
    }
    PGM_COMMON_XML_VORN_QSPI_NAME third;
    EXPECT_FALSE(third.find_attribute("__hidden__")->is_set());
    EXPECT_EQ(third.get_attribute_text("__hidden__"), "");
}

TEST(XmlSharedAttributes, EachElementKeepsItsOwnValueAndSlot) {
    PGM_COMMON_XML_VORN_QSPI_ACTION a, b;
    a.write_attribute_enum("type", PGM_COMMON_XML_ENUM_ERASE);
    EXPECT_EQ(a.find_attribute("type")->get_ptr(), &a.type);
    EXPECT_EQ(b.find_attribute("type")->get_ptr(), &b.type);
    EXPECT_EQ(b.type, PGM_COMMON_XML_ENUM__INVALID__);
    EXPECT_FALSE(b.find_attribute("type")->is_set());
    EXPECT_EQ(b.get_attribute_text("type"), "_INVALID__");
    EXPECT_EQ(a.get_attribute_text("type"), "ERASE");
    EXPECT_EQ(&a.find_attribute("type")->get_allowed_values(),
              &b.find_attribute("type")->get_allowed_values())
        << "one description per class";
}

TEST(XmlSharedAttributes, ADescriptionGivenOnceIsCheckedOnEveryUse) {
    static const PGM_COMMON_XML_ATTRIBUTE_DESC unnamed{
        "", "", "", "", PGM_XML_TYPE_UINT, PGM_XML_EXIST_REQUIRED};
    static const PGM_COMMON_XML_ATTRIBUTE_DESC hidden{
        "__hidden__", "", "", "", PGM_XML_TYPE_STRING, PGM_XML_EXIST_OPTIONAL};
    static const PGM_COMMON_XML_ATTRIBUTE_DESC size{
        "size", "", "7", "", PGM_XML_TYPE_UINT, PGM_XML_EXIST_REQUIRED};
    static const PGM_COMMON_XML_ATTRIBUTE_DESC kind{
        "kind", "", "", "", PGM_XML_TYPE_CONTAINER, PGM_XML_EXIST_REQUIRED};
    unsigned int slot = 0;
    PLAIN element(375);
    EXPECT_STREQ(internal_error_of([&] { element.add_attribute(unnamed, &slot); }).what(),
                 "name.size()");
    EXPECT_STREQ(internal_error_of([&] { element.add_attribute(hidden, &slot); }).what(),
                 "find_attribute(name) == NULL");
    EXPECT_STREQ(internal_error_of([&] { element.add_attribute(size, nullptr); }).what(),
                 "ptr != NULL");
    EXPECT_THROW(element.add_attribute(kind, &slot), VORN_INTERNAL_ERROR);
    EXPECT_EQ(element.get_attributes().size(), 3u);

    element.add_attribute(size, &slot);
    element.init_check();
    EXPECT_EQ(slot, 7u);
    EXPECT_EQ(element.find_attribute("size")->get_default_value(), "7");
    EXPECT_STREQ(internal_error_of([&] { element.add_attribute(size, &slot); }).what(),
                 "find_attribute(name) == NULL");
    EXPECT_STREQ(internal_error_of([&] { PGM_COMMON_XML_ATTRIBUTE_INFO(hidden, &slot); }).what(),
                 "ptr == NULL");
}

TEST(XmlSharedAttributes, ACopiedDescriptionOutlivesItsOriginal) {
    unsigned int slot = 0;
    auto original = std::make_unique<PGM_COMMON_XML_ATTRIBUTE_INFO>("width", "", "8", "8|16",
                                                                    PGM_XML_TYPE_UINT, 0, &slot);
    PGM_COMMON_XML_ATTRIBUTE_INFO copy(*original);
    PGM_COMMON_XML_ATTRIBUTE_INFO assigned("other", "", "", "", PGM_XML_TYPE_UINT, 1, &slot);
    assigned = *original;
    original.reset();
    for (const auto* info : {&copy, &assigned}) {
        EXPECT_EQ(info->get_name(), "width");
        EXPECT_EQ(info->get_default_value(), "8");
        EXPECT_EQ(info->get_allowed_values(), "8|16");
        EXPECT_EQ(info->get_value_text(), "8");
        EXPECT_EQ(info->get_ptr(), &slot);
    }
    EXPECT_NE(&copy.get_name(), &assigned.get_name());
}

// ---- values ----------------------------------------------------------------------------------

TEST(XmlValues, WritesReachTheSlotsAndTheText) {
    PGM_COMMON_XML_VORN_QSPI_DEVICE_NAME name;
    name.write_string("MT25QU01G");
    EXPECT_EQ(name.value, "MT25QU01G");
    EXPECT_EQ(name.get_value_text(), "MT25QU01G");

    PGM_COMMON_XML_VORN_QSPI_PAGE_SIZE page;
    page.write_value(4294967295u);
    EXPECT_EQ(page.value, 4294967295u);
    EXPECT_EQ(page.get_value_text(), "4294967295");

    EXPECT_STREQ(internal_error_of([&] { page.write_string("256"); }).what(),
                 "m_type == PGM_XML_TYPE_STRING");
    EXPECT_STREQ(internal_error_of([&] { name.write_value(1); }).what(),
                 "m_type == PGM_XML_TYPE_UINT");
    PGM_COMMON_XML_VORN_QSPI_FLASH flash;
    EXPECT_THROW(flash.write_string("x"), VORN_INTERNAL_ERROR);
}

TEST(XmlValues, ReadTextMustFitTheValueType) {
    PGM_COMMON_XML_VORN_QSPI_DELAY delay;
    EXPECT_TRUE(delay.read_value_text("0010"));
    EXPECT_EQ(delay.value, 10u);
    EXPECT_EQ(delay.get_value_text(), "10");
    EXPECT_TRUE(delay.read_value_text(" +7\n"));
    EXPECT_EQ(delay.value, 7u);
    for (const char* bad : {"", "-1", "0x10", "1 2", "4294967296", "ten", "+"}) {
        EXPECT_FALSE(delay.read_value_text(bad)) << bad;
        EXPECT_EQ(delay.value, 7u) << bad;
    }
    EXPECT_TRUE(delay.read_value_text("-0"));
    EXPECT_EQ(delay.value, 0u);

    PGM_COMMON_XML_VORN_QSPI_DESCRIPTION description;
    EXPECT_TRUE(description.read_value_text("  two\nlines "));
    EXPECT_EQ(description.value, "  two\nlines ");
    PGM_COMMON_XML_VORN_QSPI_ERASE erase;
    EXPECT_FALSE(erase.read_value_text("x"));
}

TEST(XmlValues, AttributesTakeOnlyAllowedValues) {
    PGM_COMMON_XML_VORN_QSPI_ACTION action;
    action.write_attribute_enum("type", PGM_COMMON_XML_ENUM_ERASE);
    EXPECT_EQ(action.type, PGM_COMMON_XML_ENUM_ERASE);
    EXPECT_TRUE(action.find_attribute("type")->is_set());
    EXPECT_EQ(action.get_attribute_text("type"), "ERASE");

    action.write_attribute_string("type", "CUSTOM");
    EXPECT_EQ(action.type, PGM_COMMON_XML_ENUM_CUSTOM);

    EXPECT_FALSE(action.read_attribute_text("type", "FLASH"));
    EXPECT_FALSE(action.read_attribute_text("type", "erase"));
    EXPECT_FALSE(action.read_attribute_text("kind", "ERASE"));
    EXPECT_EQ(action.type, PGM_COMMON_XML_ENUM_CUSTOM);

    EXPECT_STREQ(internal_error_of([&] {
                     action.write_attribute_enum("type", PGM_COMMON_XML_ENUM_FLASH);
                 }).what(),
                 "Value \"FLASH\" does not fit attribute \"type\" of element \"ACTION\"");
    EXPECT_STREQ(internal_error_of([&] { action.write_attribute_value("unit", 1); }).what(),
                 "Element \"ACTION\" has no attribute \"unit\"");

    PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH root;
    root.write_attribute_value("version", 3);
    EXPECT_EQ(root.version, 3u);
    EXPECT_THROW(root.write_attribute_string("version", "three"), VORN_INTERNAL_ERROR);
    EXPECT_EQ(root.version, 3u);

    PGM_COMMON_XML_VORN_QSPI_DELAY delay;
    delay.write_attribute_string("unit", "ms");
    EXPECT_EQ(delay.unit, "ms");
    EXPECT_TRUE(delay.read_attribute_text("__hidden__", "yes"));
    EXPECT_EQ(delay.get_attribute_text("__hidden__"), "yes");
}

}  // namespace
