// Writing QSPI XML: device and template documents built from records, and saving user templates.
#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_mgr"

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pgm_common_xml_vorn_qspi_auto_export.h"
#include "vorn_action_properties.h"
#include "vorn_internal.h"
#include "vorn_msgs.h"
#include "vorn_qspi_flash.h"
#include "vorn_qspi_mgr.h"
#include "vorn_qspi_reader.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// The number of a numeric property as strtol with base 0 reads it ("0x10" is 16, "010" is 8);
// false when it does not fit the unsigned 32 bits of its element. Validation lets such texts
// through (a delay has no upper bound), so a save checks them first (flash_fits_file).
bool property_number(const std::string& text, unsigned int& number) {
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 0);
    if (errno == ERANGE || value < 0 || value > 0xFFFFFFFFLL) return false;
    number = static_cast<unsigned int>(value);
    return true;
}

unsigned int property_number(const std::string& text) {
    unsigned int number = 0;
    VORN_CHECK(property_number(text, number), "value <= 0xFFFFFFFF");
    return number;
}

// Line feeds become the two characters backslash and n; the last character is kept as it is,
// so a text of one character is written unchanged.
std::string escape_description(const std::string& text) {
    if (text.size() < 2) return text;
    const size_t total_char = text.size();
    std::string out;
    out.reserve(total_char + 8);
    for (size_t i = 0; i + 1 < total_char; ++i) {
        if (text[i] == '\n')
            out += "\\n";
        else
            out += text[i];
    }
    out += text[total_char - 1];
    return out;
}

template <typename LEAF>
std::unique_ptr<PGM_COMMON_XML_ELEMENT> text_leaf(PGM_COMMON_XML_ENUM tag,
                                                  const std::string& text) {
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> leaf(new LEAF(tag));
    leaf->write_string(text);
    return leaf;
}

// Hands `child` to `parent`, which owns it from then on.
void attach(PGM_COMMON_XML_ELEMENT* parent, std::unique_ptr<PGM_COMMON_XML_ELEMENT> child) {
    parent->add_child(child.release(), nullptr);
}

std::unique_ptr<PGM_COMMON_XML_ELEMENT> new_document_root() {
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(
        new PGM_COMMON_XML_VORN_QSPI_QSPI_FLASH(PGM_COMMON_XML_ENUM_QSPI_FLASH));
    root->write_attribute_value("version", 1);
    return root;
}

}  // namespace

bool VORN_QSPI_MGR::flash_fits_file(VORN_FLASH* flash) {
    unsigned int number = 0;
    for (VORN_PROG_FLOW_TYPE type : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        const std::vector<VORN_OPERATION*>* operations = flash->get_operation_list(type);
        if (operations == nullptr) continue;
        for (VORN_OPERATION* op : *operations) {
            if (op == nullptr) continue;
            for (VORN_ACTION* act : *op->get_action_list()) {
                if (act == nullptr) continue;
                for (VORN_ACT_PROPERTY property : act->get_property_enum_list())
                    if (vorn_act_property_is_known(property) &&
                        VORN_ACT_PROPERTIES[property].is_number() &&
                        !property_number(act->get_property_value(property), number))
                        return false;
            }
        }
    }
    return true;
}

PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO* VORN_QSPI_MGR::create_xml_device_info(VORN_FLASH* flash) {
    VORN_CHECK(flash, "flash");
    std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO> info(
        new PGM_COMMON_XML_VORN_QSPI_DEVICE_INFO(PGM_COMMON_XML_ENUM_DEVICE_INFO));
    const VORN_DEVICE_VALUES values = vorn_device_values_of(*flash);
    std::string err_msg;
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS)
        if (field.label != nullptr)
            VORN_CHECK(vorn_device_field_is_valid(*this, field, values, &err_msg),
                       field.write_check);
    for (const VORN_DEVICE_FIELD& field : VORN_DEVICE_FIELDS) {
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> leaf(pgm_common_xml_vorn_qspi_create(field.tag));
        VORN_CHECK(leaf, "leaf");
        if (field.text != nullptr)
            leaf->write_string(values.*field.text);
        else
            leaf->write_value(values.*field.number);
        attach(info.get(), std::move(leaf));
    }
    return info.release();
}

PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW* VORN_QSPI_MGR::create_xml_programming_flow(
    VORN_FLASH* flash) {
    VORN_CHECK(flash, "flash");
    return create_xml_programming_flow(flash->get_operation_list(VORN_PROG_FLOW_TYPE_SFL),
                                       flash->get_operation_list(VORN_PROG_FLOW_TYPE_SDM));
}

PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW* VORN_QSPI_MGR::create_xml_programming_flow(
    const std::vector<VORN_OPERATION*>* sfl_list, const std::vector<VORN_OPERATION*>* sdm_list) {
    std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW> programming_flow(
        new PGM_COMMON_XML_VORN_QSPI_PROGRAMMING_FLOW(PGM_COMMON_XML_ENUM_PROGRAMMING_FLOW));
    std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_SFL> sfl(
        new PGM_COMMON_XML_VORN_QSPI_SFL(PGM_COMMON_XML_ENUM_SFL));
    std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_SDM> sdm(
        new PGM_COMMON_XML_VORN_QSPI_SDM(PGM_COMMON_XML_ENUM_SDM));

    create_xml_for_one_programming_flow(sfl_list, sfl.get(), nullptr);
    programming_flow->add_child(sfl.release(), nullptr);
    create_xml_for_one_programming_flow(sdm_list, nullptr, sdm.get());
    programming_flow->add_child(sdm.release(), nullptr);
    return programming_flow.release();
}

void VORN_QSPI_MGR::create_xml_for_one_programming_flow(
    const std::vector<VORN_OPERATION*>* operation_list, PGM_COMMON_XML_VORN_QSPI_SFL* xml_sfl_flow,
    PGM_COMMON_XML_VORN_QSPI_SDM* xml_sdm_flow) {
    VORN_CHECK(xml_sfl_flow || xml_sdm_flow, "xml_sfl_flow || xml_sdm_flow");
    VORN_CHECK(xml_sfl_flow == NULL || xml_sdm_flow == NULL,
               "xml_sfl_flow == NULL || xml_sdm_flow == NULL");
    VORN_CHECK(operation_list, "operation_list");
    PGM_COMMON_XML_ELEMENT* flow = xml_sfl_flow != nullptr
                                       ? static_cast<PGM_COMMON_XML_ELEMENT*>(xml_sfl_flow)
                                       : static_cast<PGM_COMMON_XML_ELEMENT*>(xml_sdm_flow);

    for (VORN_OPERATION* op : *operation_list) {
        const std::vector<PGM_COMMON_XML_VORN_QSPI_ACTION*> built =
            create_xml_action_list_for_one_operation(op);
        std::vector<std::unique_ptr<PGM_COMMON_XML_ELEMENT>> actions;
        actions.reserve(built.size());
        for (PGM_COMMON_XML_VORN_QSPI_ACTION* action : built) actions.emplace_back(action);

        const int type = op->get_type();
        if (type < 0 || type >= VORN_OP_TYPE_COUNT) VORN_FAIL("Unknown operation type");
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> op_element(
            pgm_common_xml_vorn_qspi_create(VORN_OP_TYPES[type].tag));
        for (auto& action : actions) attach(op_element.get(), std::move(action));
        attach(flow, std::move(op_element));
    }
}

std::vector<PGM_COMMON_XML_VORN_QSPI_ACTION*>
VORN_QSPI_MGR::create_xml_action_list_for_one_operation(VORN_OPERATION* op) {
    VORN_CHECK(op, "op");
    std::vector<std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_ACTION>> built;
    for (VORN_ACTION* act : *op->get_action_list()) {
        VORN_CHECK(act, "act");
        std::unique_ptr<PGM_COMMON_XML_VORN_QSPI_ACTION> xml_action(
            new PGM_COMMON_XML_VORN_QSPI_ACTION(PGM_COMMON_XML_ENUM_ACTION));
        const std::vector<VORN_ACT_PROPERTY>& enum_list = act->get_property_enum_list();
        const int type = act->get_type();
        if (type < 0 || type >= VORN_ACT_TYPE_COUNT) VORN_FAIL("Unknown action type");
        const VORN_ACT_RUN run = VORN_ACT_RUNS[type];
        if (enum_list.size() != static_cast<size_t>(run.count))
            VORN_FAIL(TARVEN::fmt_sprintf("enum_list.size() == %d", run.count));
        xml_action->write_attribute_enum("type", VORN_ACT_TYPE_TAG[type]);
        for (int property = run.first; property < run.first + run.count; ++property)
            update_xml_action_property(act, xml_action.get(),
                                       static_cast<VORN_ACT_PROPERTY>(property));
        built.push_back(std::move(xml_action));
    }
    std::vector<PGM_COMMON_XML_VORN_QSPI_ACTION*> result;
    result.reserve(built.size());
    for (auto& xml_action : built) result.push_back(xml_action.release());
    return result;
}

void VORN_QSPI_MGR::update_xml_action_property(VORN_ACTION* act,
                                               PGM_COMMON_XML_VORN_QSPI_ACTION* xml_action,
                                               VORN_ACT_PROPERTY property_enum) {
    VORN_CHECK(act, "act");
    VORN_CHECK(xml_action, "xml_action");
    const std::string value = act->get_property_value(property_enum);
    VORN_CHECK(act->property_value_is_valid(property_enum, value),
               "act->property_value_is_valid(property_enum, "
               "act->get_property_value(property_enum))");

    if (!vorn_act_property_is_known(property_enum)) VORN_FAIL("Unknown action property enum");
    const VORN_ACT_PROPERTY_INFO& info = VORN_ACT_PROPERTIES[property_enum];
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> element(pgm_common_xml_vorn_qspi_create(info.tag));
    VORN_CHECK(element, "element");
    switch (info.form) {
        case VORN_ACT_FORM_TEXT:
            element->write_string(value);
            break;
        case VORN_ACT_FORM_LINES:
            element->write_string(escape_description(value));
            break;
        case VORN_ACT_FORM_MICROSECONDS:
            element->write_attribute_string("unit", "us");
            element->write_value(property_number(value));
            break;
        case VORN_ACT_FORM_NUMBER:
            element->write_value(property_number(value));
            break;
    }
    attach(xml_action, std::move(element));
}

PGM_COMMON_XML_ELEMENT* VORN_QSPI_MGR::create_xml_object_with_flash_list(
    std::vector<VORN_FLASH*> flash_list) {
    VORN_CHECK(flash_list.size() > 0, "flash_list.size() > 0");
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root = new_document_root();
    for (VORN_FLASH* flash : flash_list) {
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> flash_element(
            new PGM_COMMON_XML_VORN_QSPI_FLASH(PGM_COMMON_XML_ENUM_FLASH));
        attach(flash_element.get(),
               std::unique_ptr<PGM_COMMON_XML_ELEMENT>(create_xml_device_info(flash)));
        attach(flash_element.get(),
               std::unique_ptr<PGM_COMMON_XML_ELEMENT>(create_xml_programming_flow(flash)));
        attach(root.get(), std::move(flash_element));
    }
    return root.release();
}

PGM_COMMON_XML_ELEMENT* VORN_QSPI_MGR::create_user_template_xml_object(VORN_FLASH* flash) {
    VORN_CHECK(flash, "flash");
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root = new_document_root();
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> user_template(
        new PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE(PGM_COMMON_XML_ENUM_USER_TEMPLATE));
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> template_name(
        new PGM_COMMON_XML_VORN_QSPI_TEMPLATE_NAME(PGM_COMMON_XML_ENUM_TEMPLATE_NAME));

    const std::string name = flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME);
    VORN_CHECK(
        template_name_is_valid(name, nullptr),
        "template_name_is_valid(flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME))");
    template_name->write_string(name);

    attach(user_template.get(), std::move(template_name));
    attach(user_template.get(),
           std::unique_ptr<PGM_COMMON_XML_ELEMENT>(create_xml_programming_flow(flash)));
    attach(root.get(), std::move(user_template));
    return root.release();
}

void VORN_QSPI_MGR::create_user_template_with_template_list(
    PGM_COMMON_XML_ELEMENT*& root, std::vector<std::string> template_list) {
    VORN_CHECK(template_list.size() > 0, "template_list.size() > 0");
    // A root made here is handed out only once every template is in it.
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> created;
    if (root == nullptr) created = new_document_root();
    PGM_COMMON_XML_ELEMENT* target = root != nullptr ? root : created.get();

    for (const std::string& template_name : template_list) {
        auto it = m_user_flash_template_map.find(template_name);
        VORN_CHECK(it != m_user_flash_template_map.end(),
                   "m_user_flash_template_map.find(template_name) != "
                   "m_user_flash_template_map.end()");
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> user_template(
            new PGM_COMMON_XML_VORN_QSPI_USER_TEMPLATE(PGM_COMMON_XML_ENUM_USER_TEMPLATE));
        attach(user_template.get(), text_leaf<PGM_COMMON_XML_VORN_QSPI_TEMPLATE_NAME>(
                                        PGM_COMMON_XML_ENUM_TEMPLATE_NAME, template_name));
        attach(user_template.get(),
               std::unique_ptr<PGM_COMMON_XML_ELEMENT>(create_xml_programming_flow(
                   &it->second->sfl_operation_list, &it->second->sdm_operation_list)));
        attach(target, std::move(user_template));
    }
    if (created) root = created.release();
}

bool VORN_QSPI_MGR::update_template_db(VORN_FLASH* flash, std::string db_dir) {
    VORN_CHECK(flash, "flash");
    SAVE_CALL call(*this);
    const std::string name = flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME);
    VORN_CHECK(!name.empty(),
               "!flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME).empty()");
    if (!write_template_xml_and_update_dir_map(flash, db_dir)) return false;
    keep_user_template(name, flash);
    return true;
}

bool VORN_QSPI_MGR::write_template_xml_and_update_dir_map(VORN_FLASH* flash, std::string& db_dir) {
    VORN_CHECK(flash, "flash");
    const std::string name = flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME);
    VORN_CHECK(!name.empty(),
               "!flash->get_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME).empty()");
    if (!flash_fits_file(flash)) {
        vorn_post_message(MSG_VORN::W::FAILED_TO_UPDATE_DB(db_dir));
        return false;
    }
    std::unique_ptr<PGM_COMMON_XML_ELEMENT> root(create_user_template_xml_object(flash));

    const std::string file = db_dir + PGM_COMMON::flash_template_file_name(name);
    if (refuse_file_not_loaded(file, db_dir)) return false;
    return save_as_one(db_dir, [&] {
        if (!save_exists(file)) msg_vdebug_impl(2, "Touch new XML file, %s", file.c_str());
        msg_vdebug_impl(2, "Deleting old XML file %s", file.c_str());
        const std::string text = PGM_COMMON_XML::write_xml_string(root.get());
        if (text.empty() || !save_file(file, text)) {
            vorn_post_message(MSG_VORN::W::FAILED_TO_UPDATE_DB(db_dir));
            return false;
        }
        msg_vdebug_impl(2, "Writing new XML file, %s", file.c_str());
        auto old = m_template_db_dir_map.find(name);
        if (old == m_template_db_dir_map.end())
            on_abandon([this, name] { m_template_db_dir_map.erase(name); });
        else
            on_abandon([this, name, was = old->second] { m_template_db_dir_map[name] = was; });
        m_template_db_dir_map[name] = file;
        on_commit([this, file] { last_save_files().template_file = file; });
        return true;
    });
}
