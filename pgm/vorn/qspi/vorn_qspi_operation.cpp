#define VORN_SOURCE_FILE "pgm/vorn/vorn_qspi_operation"

#include "vorn_qspi_operation.h"

#include <memory>

#include "vorn_internal.h"
#include "vorn_qspi_action.h"

static MEM_INITIALIZER mem_initializer("VORN");

VORN_QSPI_OPERATION::VORN_QSPI_OPERATION(VORN_OP_TYPE type) {
    if (static_cast<int>(type) < VORN_OP_TYPE_INITIALIZATION ||
        static_cast<int>(type) > VORN_OP_TYPE_TERMINATION)
        VORN_FAIL("Unknown operation type");
    static const auto& names = vorn_texts_of(VORN_OP_TYPE_NAME, VORN_OP_TYPE_COUNT);
    static const auto& descriptions = vorn_texts_of(VORN_OP_TYPE_DESC, VORN_OP_TYPE_COUNT);
    m_name = &names[type];
    m_description = &descriptions[type];
    m_type = type;
}

VORN_QSPI_OPERATION::VORN_QSPI_OPERATION(const VORN_QSPI_OPERATION& other) : VORN_OPERATION() {
    m_name = other.m_name;
    m_description = other.m_description;
    m_type = other.m_type;

    // Staged so that a failure part-way through frees the copies made so far; the destructor
    // does not run for a constructor that throws.
    std::vector<std::unique_ptr<VORN_ACTION>> copies;
    copies.reserve(other.m_action_list.size());
    for (const VORN_ACTION* action : other.m_action_list) {
        const auto* source = dynamic_cast<const VORN_QSPI_ACTION*>(action);
        VORN_CHECK(source != nullptr, "action");
        copies.emplace_back(new VORN_QSPI_ACTION(*source));
    }
    m_action_list.reserve(copies.size());
    for (auto& copy : copies) m_action_list.push_back(copy.release());
}

VORN_QSPI_OPERATION::~VORN_QSPI_OPERATION() { clear_action_list(); }

const std::vector<VORN_ACTION*>* VORN_QSPI_OPERATION::get_action_list() const {
    return &m_action_list;
}

void VORN_QSPI_OPERATION::clear_action_list() {
    while (!m_action_list.empty()) {
        VORN_ACTION* last = m_action_list.back();
        m_action_list.pop_back();
        delete last;
    }
}

// On failure the caller keeps the action and the list is unchanged.
void VORN_QSPI_OPERATION::add_action_into_list(VORN_ACTION* action) {
    VORN_CHECK(action != nullptr, "action");
    m_action_list.push_back(action);
}
