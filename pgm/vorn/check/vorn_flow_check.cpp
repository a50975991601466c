#define VORN_SOURCE_FILE "pgm/vorn/vorn_flow_check"

#include "vorn_flow_check.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "vorn_action.h"
#include "vorn_action_fields.h"
#include "vorn_action_properties.h"
#include "vorn_flash.h"
#include "vorn_internal.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// ---- what can go wrong ------------------------------------------------------------------------

enum ISSUE {
    ISSUE_UNKNOWN_COMMAND,
    ISSUE_NO_4BYTE_MODE,
    ISSUE_NOT_ON_PART,
    ISSUE_NOT_ON_NAMED_PART,
    ISSUE_NO_CHIP_ERASE,
    ISSUE_BUSY,
    ISSUE_NO_WRITE_ENABLE,
    ISSUE_LATCH_USED,
    ISSUE_NO_RESET_ENABLE,
    ISSUE_CUT_SHORT,
    ISSUE_QUAD_DISABLED,
    ISSUE_BUS_WIDTH,
    ISSUE_ADDRESS_LENGTH,
    ISSUE_ADDRESS_RANGE,
    ISSUE_ADDRESS_BEYOND,
    ISSUE_DUMMY_DEVICE,
    ISSUE_DUMMY_COMMAND,
    ISSUE_ERASE_TOO_SMALL,
    ISSUE_ERASE_TOO_LARGE,
    ISSUE_ERASE_OUTSIDE,
    ISSUE_OTP_BIT,
    ISSUE_UNERASED,
    ISSUE_EXTRA_DATA,
    ISSUE_FILE_DATA,
    ISSUE_BUSY_MASK,
    ISSUE_POLL_STOPS_BUSY,
    ISSUE_POLL_TOO_SHORT,
    ISSUE_READ_MISMATCH,
    ISSUE_VERIFY_MISMATCH,
    ISSUE_STACKED_POLL,
    ISSUE_NOTHING_VERIFIED,
    ISSUE_ENDS_4BYTE,
    ISSUE_ENDS_ADDRESS,
    ISSUE_VENDOR_MISMATCH,
    ISSUE_UNKNOWN_MANUFACTURER,
    ISSUE_JUDGED_AS,
    ISSUE_NOT_CHECKED,
    ISSUE_COUNT
};

struct ISSUE_INFO {
    ISSUE issue;
    const char* code;
    VORN_FLOW_SEVERITY severity;
    const char* format;  // printf-style; each caller passes the arguments its row names
};

constexpr VORN_FLOW_SEVERITY E = VORN_FLOW_SEVERITY_ERROR;
constexpr VORN_FLOW_SEVERITY W = VORN_FLOW_SEVERITY_WARNING;

// Every finding the checker can make, in one place.
const ISSUE_INFO ISSUE_TABLE[ISSUE_COUNT] = {
    {ISSUE_UNKNOWN_COMMAND, "unknown-command", E,
     "sends 0x%02X, which is not in the %s command set; the chip ignores it"},
    {ISSUE_NO_4BYTE_MODE, "no-4byte-mode", E,
     "enters 4-byte mode on a %s part, which has no such mode"},
    {ISSUE_NOT_ON_PART, "not-on-part", E,
     "%s (0x%02X) does not exist on a %s part; the chip ignores it"},
    {ISSUE_NOT_ON_NAMED_PART, "not-on-part", E,
     "%s (0x%02X) does not exist on the %s; the chip ignores it"},
    {ISSUE_NO_CHIP_ERASE, "no-chip-erase", E,
     "%s (0x%02X) does not exist on the stacked %s; it erases one die at a time with 0xC4"},
    {ISSUE_BUSY, "busy", E, "issued while the chip is still busy; the chip ignores it"},
    {ISSUE_NO_WRITE_ENABLE, "no-write-enable", E,
     "issued without a preceding write enable; the chip ignores it"},
    {ISSUE_LATCH_USED, "latch-used", E,
     "issued after %s (0x%02X) used up the write enable latch; the chip ignores it"},
    {ISSUE_NO_RESET_ENABLE, "no-reset-enable", E,
     "issued without a reset enable just before it; the chip ignores it"},
    {ISSUE_CUT_SHORT, "cut-short", E,
     "sends %u bytes after the command, %s (0x%02X) needs %u; the chip ignores it"},
    {ISSUE_QUAD_DISABLED, "quad-disabled", E,
     "%s (0x%02X) needs the quad enable bit, which is clear; the chip ignores it"},
    {ISSUE_BUS_WIDTH, "bus-width", E, "drives every phase on one line, but %s (0x%02X) uses %s"},
    {ISSUE_ADDRESS_LENGTH, "address-length", E,
     "sends a %u-byte address, but the chip takes %u %s"},
    {ISSUE_ADDRESS_RANGE, "address-range", E,
     "address 0x%06llX needs 4 bytes; a 3-byte address reaches 0x%06llX instead"},
    {ISSUE_ADDRESS_BEYOND, "address-beyond", E, "address 0x%06llX lies beyond the %s part"},
    {ISSUE_DUMMY_DEVICE, "dummy-cycles", E, "%u dummy cycles, device says %u"},
    {ISSUE_DUMMY_COMMAND, "dummy-cycles", E, "%u dummy cycles, but %s (0x%02X) takes %u"},
    {ISSUE_ERASE_TOO_SMALL, "erase-size", E,
     "declares %u bytes, but %s (0x%02X) erases %u; the rest of the block stays unerased"},
    {ISSUE_ERASE_TOO_LARGE, "erase-size", W,
     "declares %u bytes, but %s (0x%02X) erases %u; data beside the block is lost"},
    {ISSUE_ERASE_OUTSIDE, "erase-outside", E,
     "%s (0x%02X) erases only 0x%06llX-0x%06llX on the %s; at 0x%06llX it erases nothing"},
    {ISSUE_OTP_BIT, "otp-bit", E,
     "sets %s bit(s) 0x%02X, which are one-time programmable: the change cannot be undone"},
    {ISSUE_UNERASED, "unerased", E, "programs 0x%06llX, which no erase has cleared"},
    {ISSUE_EXTRA_DATA, "extra-data", W, "sends %u byte(s) of data that %s (0x%02X) does not take"},
    {ISSUE_FILE_DATA, "file-data", W,
     "takes its data from the programming file, which the model cannot foresee; it sends none"},
    {ISSUE_BUSY_MASK, "busy-mask", E,
     "polls %s with mask 0x%02X, which never sees the busy bit 0x%02X"},
    {ISSUE_POLL_STOPS_BUSY, "poll-stops-busy", E,
     "stops polling while the chip is still busy: 0x%02X under mask 0x%02X is the busy state"},
    {ISSUE_POLL_TOO_SHORT, "poll-too-short", E,
     "gives up while the chip is still busy (attempt count %u)"},
    {ISSUE_READ_MISMATCH, "read-mismatch", E, "reads %s, expects %s under mask %s"},
    {ISSUE_VERIFY_MISMATCH, "verify-mismatch", E,
     "reads back data that Program did not write, at 0x%06llX"},
    {ISSUE_STACKED_POLL, "stacked-poll", W,
     "polls %s on a %u-die part, where only %s shows every die ready"},
    {ISSUE_NOTHING_VERIFIED, "nothing-verified", W, "reads nothing back, so nothing is verified"},
    {ISSUE_ENDS_4BYTE, "ends-4byte", E,
     "leaves the chip in 4-byte address mode; a reader that starts in 3-byte mode misreads it"},
    {ISSUE_ENDS_ADDRESS, "ends-address-register", E,
     "leaves %s at 0x%02X; a reader that sends 3-byte addresses reads from 0x%06llX, not 0"},
    {ISSUE_VENDOR_MISMATCH, "vendor-mismatch", W,
     "the flows follow the %s template, but manufacturer byte 0x%02X is %s's; checked as %s"},
    {ISSUE_UNKNOWN_MANUFACTURER, "unknown-manufacturer", W,
     "manufacturer byte 0x%02X has no profile; checked as %s, the template's vendor"},
    {ISSUE_JUDGED_AS, "judged-as", W,
     "manufacturer byte 0x%02X has no facts; checked as %s, as asked, by that vendor's command "
     "set, which this part may not share"},
    {ISSUE_NOT_CHECKED, "not-checked", W, "not checked: %s"},
};

// ---- property access ----------------------------------------------------------------------------

bool refers_to_file(const VORN_ACTION& action, int property) {
    return property >= 0 && action.property_value_is_jic_file(
                                action.get_property_value(vorn_field_property(property)));
}

unsigned long long number_of(const VORN_ACTION& action, int property) {
    return property < 0 ? 0 : action.get_property_value_in_dword(vorn_field_property(property));
}

std::vector<unsigned char> bytes_of(const VORN_ACTION& action, int property) {
    if (property < 0) return {};
    unsigned int count = 0;
    bool ok = false;
    std::unique_ptr<unsigned char[]> bytes(
        action.get_property_value_in_byte_array(vorn_field_property(property), &count, &ok));
    if (!ok || bytes == nullptr) return {};
    return std::vector<unsigned char>(bytes.get(), bytes.get() + count);
}

std::string hex_bytes(const std::vector<unsigned char>& bytes) {
    std::string text;
    for (unsigned char b : bytes)
        text += TARVEN::fmt_sprintf("%s0x%02X", text.empty() ? "" : " ", b);
    return text.empty() ? "nothing" : text;
}

// The first bytes of a long list, then its length.
std::string short_bytes(const std::vector<unsigned char>& bytes, size_t begin) {
    std::string text;
    const size_t shown = std::min(bytes.size(), begin + 8);
    for (size_t i = begin; i < shown; ++i)
        text += TARVEN::fmt_sprintf("%s%02X", i == begin ? "" : " ", bytes[i]);
    if (bytes.size() > shown)
        text +=
            TARVEN::fmt_sprintf(" ... (%u bytes)", static_cast<unsigned int>(bytes.size() - begin));
    return text;
}

// ---- the modelled programming file --------------------------------------------------------------

// A few pages of recognisable data: one at the start of each erase block the flow offers (so
// that every erase command is used once, largest first from address 0) and the last page of
// the device (where 3-byte addresses stop reaching on large parts).
struct ERASE_STEP {
    unsigned long long address;
    unsigned int action;  // 1-based position of the chosen erase action; 0 when none is chosen
};

class PROGRAMMING_FILE {
  public:
    PROGRAMMING_FILE(unsigned long long density, unsigned int page_size,
                     const std::vector<std::pair<unsigned int, unsigned long long>>& erase_choices)
        : m_page_size(page_size) {
        // Distinct declared sizes, largest first, each with the first action that declares it.
        std::vector<std::pair<unsigned long long, unsigned int>> sizes;
        for (const auto& choice : erase_choices) {
            const bool seen = std::any_of(sizes.begin(), sizes.end(),
                                          [&](const auto& s) { return s.first == choice.second; });
            if (!seen && choice.second % page_size == 0 && choice.second > 0 &&
                choice.second <= density / 2)
                sizes.emplace_back(choice.second, choice.first);
        }
        std::sort(sizes.begin(), sizes.end(), std::greater<>());
        unsigned long long cursor = 0;
        for (const auto& size : sizes) {
            if (cursor % size.first != 0 || cursor + size.first > density / 2) continue;
            m_erase_plan.push_back({cursor, size.second});
            m_pages.push_back(cursor);
            cursor += size.first;
        }
        if (m_pages.empty()) {
            m_erase_plan.push_back({0, 0});
            m_pages.push_back(0);
        }
        const unsigned long long last_page = density - page_size;
        if (!sizes.empty()) {
            const auto smallest = *std::min_element(sizes.begin(), sizes.end());
            m_erase_plan.push_back({density - smallest.first, smallest.second});
        }
        m_pages.push_back(last_page);
    }

    unsigned int page_size() const { return m_page_size; }
    const std::vector<unsigned long long>& pages() const { return m_pages; }
    const std::vector<ERASE_STEP>& erase_plan() const { return m_erase_plan; }

    bool holds(unsigned long long address) const {
        const unsigned long long page = address - address % m_page_size;
        return std::find(m_pages.begin(), m_pages.end(), page) != m_pages.end();
    }
    // Data that differs from page to page and from byte to byte, so that a misplaced or
    // shifted write shows.
    unsigned char byte_at(unsigned long long address) const {
        if (!holds(address)) return 0xFF;
        const unsigned int page_hash = static_cast<unsigned int>(address >> 8) * 0x9E3779B1u;
        return static_cast<unsigned char>((page_hash >> 24) ^ (address * 7) ^ 0x5A);
    }
    std::vector<unsigned char> bytes(unsigned long long address, unsigned int length) const {
        std::vector<unsigned char> out(length);
        for (unsigned int i = 0; i < length; ++i) out[i] = byte_at(address + i);
        return out;
    }

  private:
    unsigned int m_page_size;
    std::vector<unsigned long long> m_pages;
    std::vector<ERASE_STEP> m_erase_plan;
};

// ---- one flow on one chip -----------------------------------------------------------------------

// What the programmer works on while it runs an operation once.
struct UNIT {
    unsigned long long address = 0;
    unsigned int erase_action = 0;  // the erase action chosen for this block
};

struct AT {
    VORN_OP_TYPE operation;
    unsigned int action;  // 1-based
    const VORN_ACTION* act;
};

class FLOW_RUN {
  public:
    FLOW_RUN(const VORN_FLASH& flash, const VORN_FLASH_VENDOR_PROFILE& profile,
             const VORN_FLASH_CONFIG& config, VORN_PROG_FLOW_TYPE flow,
             VORN_FLOW_CHECK_RESULT& result, bool with_trace, bool name_part = true)
        : m_flash(flash),
          m_profile(profile),
          m_model(profile, config),
          m_flow(flow),
          m_result(result),
          m_with_trace(with_trace),
          m_name_part(name_part) {}

    void run() {
        const std::vector<VORN_OPERATION*>* ops = m_flash.get_operation_list(m_flow);
        if (ops == nullptr || ops->empty()) return;
        const VORN_OPERATION* by_type[VORN_OP_TYPE_COUNT] = {};
        for (const VORN_OPERATION* op : *ops) {
            const int type = static_cast<int>(op->get_type());
            if (type >= 0 && type < VORN_OP_TYPE_COUNT && by_type[type] == nullptr)
                by_type[type] = op;
        }
        const VORN_OPERATION* erase_op = by_type[VORN_OP_TYPE_ERASE];
        const PROGRAMMING_FILE file(m_model.get_config().density_bytes, m_profile.page_size,
                                    erase_choices(erase_op));
        m_file = &file;

        run_operation(by_type[VORN_OP_TYPE_INITIALIZATION], UNIT{});
        for (const ERASE_STEP& step : file.erase_plan())
            run_operation(erase_op, UNIT{step.address, step.action});
        for (unsigned long long page : file.pages())
            run_operation(by_type[VORN_OP_TYPE_PROGRAM], UNIT{page, 0});
        const VORN_OPERATION* verify = by_type[VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE];
        if (verify != nullptr && !has_action_of_type(verify, VORN_ACT_TYPE_READ_DATA))
            report(AT{VORN_OP_TYPE_VERIFY_BLANKCHECK_EXAMINE, 0, nullptr}, ISSUE_NOTHING_VERIFIED);
        for (unsigned long long page : file.pages()) run_operation(verify, UNIT{page, 0});
        run_operation(by_type[VORN_OP_TYPE_TERMINATION], UNIT{});
        if (m_model.get_address_bytes() == 4)
            report(AT{VORN_OP_TYPE_TERMINATION, 0, nullptr}, ISSUE_ENDS_4BYTE);
        const int bank = m_model.get_address_register();
        if (bank >= 0) {
            const VORN_FLASH_REGISTER& reg = m_profile.registers[bank];
            const unsigned char value = m_model.read_register(bank);
            report_fact(AT{VORN_OP_TYPE_TERMINATION, 0, nullptr}, ISSUE_ENDS_ADDRESS,
                        !m_model.is_address_register_unconfirmed(), reg.name, value,
                        static_cast<unsigned long long>(value & reg.address_bits) << 24);
        }
        m_file = nullptr;
    }

  private:
    static bool has_action_of_type(const VORN_OPERATION* op, VORN_ACT_TYPE type) {
        const auto* actions = op->get_action_list();
        return std::any_of(actions->begin(), actions->end(),
                           [type](const VORN_ACTION* a) { return a->get_type() == type; });
    }

    // The erase actions the programmer chooses from: those between the "start" and "end"
    // markers, or every erase action when the operation has no markers.
    static std::vector<std::pair<unsigned int, unsigned long long>> erase_choices(
        const VORN_OPERATION* op) {
        std::vector<std::pair<unsigned int, unsigned long long>> inside;
        std::vector<std::pair<unsigned int, unsigned long long>> all;
        if (op == nullptr) return all;
        bool in_markers = false;
        unsigned int index = 0;
        for (const VORN_ACTION* action : *op->get_action_list()) {
            ++index;
            if (action->get_type() == VORN_ACT_TYPE_CUSTOM) {
                const std::string direction =
                    action->get_property_value(VORN_ACT_PROPERTY_CUSTOM_DIRECTION);
                if (direction == "start") in_markers = true;
                if (direction == "end") in_markers = false;
            } else if (action->get_type() == VORN_ACT_TYPE_ERASE) {
                const auto choice =
                    std::make_pair(index, number_of(*action, VORN_ACT_PROPERTY_ERASE_ERASE_SIZE));
                all.push_back(choice);
                if (in_markers) inside.push_back(choice);
            }
        }
        return inside.empty() ? all : inside;
    }

    void run_operation(const VORN_OPERATION* op, const UNIT& unit) {
        if (op == nullptr) return;
        const auto choices = op->get_type() == VORN_OP_TYPE_ERASE
                                 ? erase_choices(op)
                                 : std::vector<std::pair<unsigned int, unsigned long long>>();
        unsigned int index = 0;
        for (const VORN_ACTION* action : *op->get_action_list()) {
            ++index;
            const AT at{op->get_type(), index, action};
            const bool chosen_from =
                std::any_of(choices.begin(), choices.end(),
                            [index](const auto& c) { return c.first == index; });
            if (chosen_from && index != unit.erase_action) continue;
            switch (action->get_type()) {
                case VORN_ACT_TYPE_WRITE_REGISTER:
                    write_register(at);
                    break;
                case VORN_ACT_TYPE_READ_REGISTER:
                    read_register(at);
                    break;
                case VORN_ACT_TYPE_WRITE_DATA:
                case VORN_ACT_TYPE_ERASE:
                    write_at_address(at, unit);
                    break;
                case VORN_ACT_TYPE_READ_DATA:
                    read_data(at, unit);
                    break;
                case VORN_ACT_TYPE_CUSTOM:
                    break;  // markers only
                default:
                    VORN_FAIL("Unknown action type");
            }
        }
    }

    // ---- findings -----------------------------------------------------------------------------

    template <typename... ARGS>
    void report(const AT& at, ISSUE issue, const ARGS&... args) {
        report_fact(at, issue, true, args...);
    }

    // A finding that rests on a chip fact: a warning when no public source confirms the fact.
    template <typename... ARGS>
    void report_fact(const AT& at, ISSUE issue, bool confirmed, const ARGS&... args) {
        const ISSUE_INFO& info = ISSUE_TABLE[issue];
        const VORN_FLOW_SEVERITY severity = confirmed ? info.severity : VORN_FLOW_SEVERITY_WARNING;
        if (!m_reported.emplace(static_cast<int>(at.operation), at.action, info.code).second)
            return;
        VORN_FLOW_FINDING finding;
        finding.severity = severity;
        finding.code = info.code;
        finding.flow = static_cast<int>(m_flow);
        finding.operation = static_cast<int>(at.operation);
        finding.action = at.action;
        if (at.act != nullptr) finding.action_name = action_name(*at.act);
        finding.text = TARVEN::fmt_sprintf(info.format, args...);
        m_result.findings.push_back(std::move(finding));
        if (severity == VORN_FLOW_SEVERITY_ERROR)
            m_failed.emplace(static_cast<int>(at.operation), at.action);
    }

    // An action wrong in itself also writes or reads wrong data; that is no news about the
    // rest of the flow.
    bool has_failed(const AT& at) const {
        return m_failed.count({static_cast<int>(at.operation), at.action}) > 0;
    }

    static std::string action_name(const VORN_ACTION& action) {
        if (action.get_type() == VORN_ACT_TYPE_CUSTOM)
            return action.get_property_value(VORN_ACT_PROPERTY_CUSTOM_DESCRIPTION);
        std::string name = action.get_property_value(
            vorn_field_property(VORN_ACTION_FIELD_TABLE[action.get_type()].name));
        if (name.empty()) name = action.get_name();
        return TARVEN::fmt_sprintf("%s 0x%02X", name, opcode_of(action));
    }

    static unsigned char opcode_of(const VORN_ACTION& action) {
        return static_cast<unsigned char>(
            number_of(action, VORN_ACTION_FIELD_TABLE[action.get_type()].command));
    }

    // ---- transactions -------------------------------------------------------------------------

    VORN_FLASH_RESPONSE send(const AT& at, const VORN_FLASH_TRANSACTION& t,
                             unsigned int address_bytes) {
        VORN_FLASH_RESPONSE response = m_model.execute(t);
        if (m_with_trace) {
            VORN_FLOW_TRACE_ENTRY entry;
            entry.flow = static_cast<int>(m_flow);
            entry.operation = static_cast<int>(at.operation);
            entry.action = at.action;
            entry.action_name = action_name(*at.act);
            entry.address_bytes = address_bytes;
            entry.transaction = t;
            entry.response = response;
            m_result.trace.push_back(std::move(entry));
        }
        return response;
    }

    // What the chip's outcome says about the action, and what a known command says about how
    // it was sent.
    void judge(const AT& at, unsigned char opcode, const VORN_FLASH_RESPONSE& r,
               const VORN_FLASH_TRANSACTION& t) {
        const VORN_FLASH_COMMAND* c = r.command;
        switch (r.outcome) {
            case VORN_FLASH_OUTCOME_DONE:
                break;
            case VORN_FLASH_OUTCOME_UNKNOWN_COMMAND:
                report(at, ISSUE_UNKNOWN_COMMAND, opcode,
                       VORN_PROG_FLOW_TEMPLATE_NAME[m_profile.vendor]);
                return;
            case VORN_FLASH_OUTCOME_NOT_ON_THIS_PART:
                if (c->kind == VORN_FLASH_COMMAND_ENTER_4BYTE)
                    report(at, ISSUE_NO_4BYTE_MODE, m_flash.get_density());
                else if (m_profile.part == nullptr || !m_name_part)
                    report(at, ISSUE_NOT_ON_PART, c->name, opcode, m_flash.get_density());
                else if (c->kind == VORN_FLASH_COMMAND_CHIP_ERASE && m_profile.part->dies() > 1)
                    report(at, ISSUE_NO_CHIP_ERASE, c->name, opcode, m_profile.part->name);
                else
                    report(at, ISSUE_NOT_ON_NAMED_PART, c->name, opcode, m_profile.part->name);
                return;
            case VORN_FLASH_OUTCOME_BUSY:
                report(at, ISSUE_BUSY);
                break;
            case VORN_FLASH_OUTCOME_NO_WRITE_ENABLE:
                if (r.latch_used_by != nullptr)
                    report(at, ISSUE_LATCH_USED, r.latch_used_by->name, r.latch_used_by->opcode);
                else
                    report(at, ISSUE_NO_WRITE_ENABLE);
                break;
            case VORN_FLASH_OUTCOME_NO_RESET_ENABLE:
                report(at, ISSUE_NO_RESET_ENABLE);
                break;
            case VORN_FLASH_OUTCOME_INCOMPLETE:
                report(at, ISSUE_CUT_SHORT, static_cast<unsigned int>(t.out.size()), c->name,
                       opcode,
                       r.address_bytes + (c->kind == VORN_FLASH_COMMAND_WRITE_REGISTER ? 1u : 0u));
                break;
            case VORN_FLASH_OUTCOME_QUAD_DISABLED:
                report(at, ISSUE_QUAD_DISABLED, c->name, opcode);
                break;
            case VORN_FLASH_OUTCOME_OUTSIDE_REGION: {
                const VORN_FLASH_REGION& region = m_profile.regions[c - m_profile.commands];
                report_fact(at, ISSUE_ERASE_OUTSIDE, region.confirmed, c->name, opcode,
                            region.begin, region.end - 1, m_profile.part->name, r.address);
                break;
            }
            default:
                VORN_FAIL("Unknown flash outcome");
        }
        // The validators let actions drive one line only.
        if (std::string(c->bus) != "1-1-1") report(at, ISSUE_BUS_WIDTH, c->name, opcode, c->bus);
    }

    void check_address(const AT& at, unsigned int sent, unsigned long long address,
                       const VORN_FLASH_RESPONSE& r) {
        if (sent == 3 && address >= VORN_THREE_BYTE_LIMIT)
            report(at, ISSUE_ADDRESS_RANGE, address, address % VORN_THREE_BYTE_LIMIT);
        if (address >= m_model.get_config().density_bytes)
            report(at, ISSUE_ADDRESS_BEYOND, address, m_flash.get_density());
        if (r.address_bytes == 0 || r.address_bytes == sent) return;
        const char* why = r.command->address == VORN_FLASH_ADDRESS_FOUR
                              ? "for this command"
                              : (r.address_bytes == 4 ? "in 4-byte mode" : "in 3-byte mode");
        report(at, ISSUE_ADDRESS_LENGTH, sent, r.address_bytes, why);
    }

    // Big-endian; a count beyond any chip's is sent as 8 bytes, which is wrong all the same.
    static std::vector<unsigned char> address_bytes(unsigned long long address,
                                                    unsigned int count) {
        std::vector<unsigned char> out;
        for (unsigned int i = std::min(count, 8u); i-- > 0;)
            out.push_back(static_cast<unsigned char>(address >> (8 * i)));
        return out;
    }

    void write_register(const AT& at) {
        const VORN_ACTION& action = *at.act;
        const VORN_ACTION_FIELDS& f = VORN_ACTION_FIELD_TABLE[action.get_type()];
        VORN_FLASH_TRANSACTION t;
        t.command = opcode_of(action);
        if (refers_to_file(action, f.data))
            report(at, ISSUE_FILE_DATA);
        else
            t.out = bytes_of(action, f.data);
        const VORN_FLASH_RESPONSE r = send(at, t, 0);
        judge(at, t.command, r, t);
        if (r.outcome != VORN_FLASH_OUTCOME_DONE) return;
        if (r.otp_set != 0) {
            const VORN_FLASH_REGISTER& reg = m_profile.registers[r.otp_register];
            report_fact(at, ISSUE_OTP_BIT, reg.otp_confirmed, reg.name, r.otp_set);
        }
        // Commands that carry an address may take it from a register action's data.
        const VORN_FLASH_COMMAND_KIND kind = r.command->kind;
        size_t takes = r.address_bytes;
        if (kind == VORN_FLASH_COMMAND_WRITE_REGISTER) takes = r.command->registers[1] >= 0 ? 2 : 1;
        if (kind == VORN_FLASH_COMMAND_PROGRAM) takes = t.out.size();
        if (t.out.size() > takes)
            report(at, ISSUE_EXTRA_DATA, static_cast<unsigned int>(t.out.size() - takes),
                   r.command->name, t.command);
    }

    void read_register(const AT& at) {
        const VORN_ACTION& action = *at.act;
        const VORN_ACTION_FIELDS& f = VORN_ACTION_FIELD_TABLE[action.get_type()];
        VORN_FLASH_TRANSACTION t;
        t.command = opcode_of(action);
        t.in_length = refers_to_file(action, f.length)
                          ? 1
                          : static_cast<unsigned int>(std::max(1ULL, number_of(action, f.length)));
        const std::vector<unsigned char> expected = bytes_of(action, f.expected);
        std::vector<unsigned char> mask = bytes_of(action, f.mask);
        mask.resize(expected.size(), 0xFF);
        const unsigned long long attempts =
            std::max(1ULL, number_of(action, VORN_ACT_PROPERTY_READ_REG_ATTEMPT_COUNT));

        // A poll of the register that shows the chip busy, begun while it is busy.
        const VORN_FLASH_COMMAND* command =
            m_profile.find_command(t.command, m_model.get_config().density_bytes);
        const VORN_FLASH_REGISTER* reg = nullptr;
        int reg_index = -1;
        if (command != nullptr && command->kind == VORN_FLASH_COMMAND_READ_REGISTER) {
            reg_index = command->registers[0];
            reg = &m_profile.registers[reg_index];
        }
        const bool polls_busy =
            reg != nullptr && reg->busy != 0 && m_model.is_busy() && !expected.empty();
        bool sees_busy = true;
        if (polls_busy) {
            sees_busy = (mask[0] & reg->busy) != 0;
            if (!sees_busy) report(at, ISSUE_BUSY_MASK, reg->name, mask[0], reg->busy);
            const int stacked = m_profile.stacked_ready_register;
            if (m_model.get_config().dies > 1 && stacked >= 0 && stacked != reg_index)
                report(at, ISSUE_STACKED_POLL, reg->name, m_model.get_config().dies,
                       m_profile.registers[stacked].name);
        }

        VORN_FLASH_RESPONSE r;
        bool matched = expected.empty();
        for (unsigned long long attempt = 1; attempt <= attempts; ++attempt) {
            r = send(at, t, 0);
            if (attempt == 1) judge(at, t.command, r, t);
            if (r.outcome != VORN_FLASH_OUTCOME_DONE) return;
            matched = matches(r.in, expected, mask);
            if (matched) {
                if (r.busy && polls_busy && sees_busy)
                    report(at, ISSUE_POLL_STOPS_BUSY, expected[0], mask[0]);
                break;
            }
            // An idle chip answers every further read the same: the log keeps one.
            if (!r.busy && !m_model.is_busy()) {
                if (m_with_trace)
                    m_result.trace.back().repeats = static_cast<unsigned int>(
                        std::min<unsigned long long>(attempts - attempt, ~0u));
                break;
            }
        }
        if (matched) return;
        if (r.busy)
            report(at, ISSUE_POLL_TOO_SHORT, static_cast<unsigned int>(attempts));
        else
            report(at, ISSUE_READ_MISMATCH, hex_bytes(r.in), hex_bytes(expected), hex_bytes(mask));
    }

    static bool matches(const std::vector<unsigned char>& got,
                        const std::vector<unsigned char>& expected,
                        const std::vector<unsigned char>& mask) {
        for (size_t i = 0; i < expected.size() && i < got.size(); ++i)
            if ((got[i] & mask[i]) != (expected[i] & mask[i])) return false;
        return true;
    }

    // Write Data and Erase: a command, an address, and for Write Data the page's data.
    void write_at_address(const AT& at, const UNIT& unit) {
        const VORN_ACTION& action = *at.act;
        const VORN_ACTION_FIELDS& f = VORN_ACTION_FIELD_TABLE[action.get_type()];
        const unsigned int sent = static_cast<unsigned int>(number_of(action, f.addressing));
        const unsigned long long address =
            refers_to_file(action, f.address) ? unit.address : number_of(action, f.address);
        VORN_FLASH_TRANSACTION t;
        t.command = opcode_of(action);
        t.out = address_bytes(address, sent);
        if (f.data >= 0) {
            const std::vector<unsigned char> data =
                refers_to_file(action, f.data) ? m_file->bytes(address, m_file->page_size())
                                               : bytes_of(action, f.data);
            t.out.insert(t.out.end(), data.begin(), data.end());
        }
        const VORN_FLASH_RESPONSE r = send(at, t, sent);
        judge(at, t.command, r, t);
        if (r.outcome == VORN_FLASH_OUTCOME_UNKNOWN_COMMAND ||
            r.outcome == VORN_FLASH_OUTCOME_NOT_ON_THIS_PART)
            return;
        check_address(at, sent, address, r);
        const VORN_FLASH_COMMAND& c = *r.command;
        if (action.get_type() == VORN_ACT_TYPE_ERASE && c.kind == VORN_FLASH_COMMAND_ERASE) {
            const unsigned long long declared =
                number_of(action, VORN_ACT_PROPERTY_ERASE_ERASE_SIZE);
            if (declared > c.erase_size)
                report(at, ISSUE_ERASE_TOO_SMALL, static_cast<unsigned int>(declared), c.name,
                       t.command, c.erase_size);
            else if (declared < c.erase_size)
                report(at, ISSUE_ERASE_TOO_LARGE, static_cast<unsigned int>(declared), c.name,
                       t.command, c.erase_size);
        }
        if (r.overwrote && !has_failed(at)) report(at, ISSUE_UNERASED, address);
    }

    void read_data(const AT& at, const UNIT& unit) {
        const VORN_ACTION& action = *at.act;
        const VORN_ACTION_FIELDS& f = VORN_ACTION_FIELD_TABLE[action.get_type()];
        const unsigned int sent = static_cast<unsigned int>(number_of(action, f.addressing));
        const bool from_file = refers_to_file(action, f.address);
        const unsigned long long address = from_file ? unit.address : number_of(action, f.address);
        VORN_FLASH_TRANSACTION t;
        t.command = opcode_of(action);
        t.out = address_bytes(address, sent);
        t.dummy_cycles = static_cast<unsigned int>(
            number_of(action, VORN_ACT_PROPERTY_READ_DATA_DUMMY_CLOCK_CYCLE));
        t.in_length = refers_to_file(action, f.length)
                          ? m_file->page_size()
                          : static_cast<unsigned int>(number_of(action, f.length));
        const VORN_FLASH_RESPONSE r = send(at, t, sent);
        judge(at, t.command, r, t);
        if (r.outcome != VORN_FLASH_OUTCOME_DONE) return;
        check_address(at, sent, address, r);
        if (r.command->kind == VORN_FLASH_COMMAND_READ && t.dummy_cycles != r.dummy_cycles) {
            if (r.command->dummy == VORN_FLASH_DUMMY_NONE)
                report(at, ISSUE_DUMMY_COMMAND, t.dummy_cycles, r.command->name, t.command,
                       r.dummy_cycles);
            else
                report(at, ISSUE_DUMMY_DEVICE, t.dummy_cycles, r.dummy_cycles);
        }
        if (has_failed(at)) return;
        if (refers_to_file(action, f.expected)) {
            for (unsigned int i = 0; i < r.in.size(); ++i) {
                if (m_file->holds(address + i) && r.in[i] != m_file->byte_at(address + i)) {
                    report(at, ISSUE_VERIFY_MISMATCH, address + i);
                    break;
                }
            }
            return;
        }
        const std::vector<unsigned char> expected = bytes_of(action, f.expected);
        std::vector<unsigned char> mask = bytes_of(action, f.mask);
        mask.resize(expected.size(), 0xFF);
        if (!matches(r.in, expected, mask))
            report(at, ISSUE_READ_MISMATCH,
                   hex_bytes(std::vector<unsigned char>(
                       r.in.begin(), r.in.begin() + std::min(r.in.size(), expected.size()))),
                   hex_bytes(expected), hex_bytes(mask));
    }

    const VORN_FLASH& m_flash;
    const VORN_FLASH_VENDOR_PROFILE& m_profile;
    VORN_FLASH_MODEL m_model;
    VORN_PROG_FLOW_TYPE m_flow;
    VORN_FLOW_CHECK_RESULT& m_result;
    bool m_with_trace;
    bool m_name_part;  // the part is known for sure: findings may name it
    const PROGRAMMING_FILE* m_file = nullptr;
    std::set<std::pair<int, unsigned int>> m_failed;
    // Each finding once per action, however often the programmer runs it.
    std::set<std::tuple<int, unsigned int, std::string>> m_reported;
};

void report_device(VORN_FLOW_CHECK_RESULT& result, ISSUE issue, const std::string& text) {
    VORN_FLOW_FINDING finding;
    finding.severity = ISSUE_TABLE[issue].severity;
    finding.code = ISSUE_TABLE[issue].code;
    finding.text = text;
    result.findings.push_back(std::move(finding));
}

int template_vendor(const VORN_FLASH& flash) {
    return vorn_vendor_template_index(
        flash.get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE));
}

}  // namespace

// ---- public -----------------------------------------------------------------------------------

const char* vorn_flow_severity_name(VORN_FLOW_SEVERITY severity) {
    return severity == VORN_FLOW_SEVERITY_ERROR ? "error" : "warning";
}

std::string VORN_FLOW_FINDING::describe() const {
    std::string where;
    if (flow >= 0) where = flow == VORN_PROG_FLOW_TYPE_SDM ? "SDM " : "SFL ";
    if (operation >= 0 && operation < VORN_OP_TYPE_COUNT) where += VORN_OP_TYPE_NAME[operation];
    if (action > 0) where += TARVEN::fmt_sprintf(", action %u (%s)", action, action_name);
    return where.empty() ? text : where + ": " + text;
}

unsigned int VORN_FLOW_TRACE_ENTRY::sent_address_bytes() const {
    return std::min<unsigned int>(address_bytes, transaction.out.size());
}

unsigned long long VORN_FLOW_TRACE_ENTRY::address() const {
    const unsigned int sent = sent_address_bytes();
    unsigned long long value = 0;
    for (unsigned int i = 0; i < sent; ++i) value = (value << 8) | transaction.out[i];
    return value;
}

std::string VORN_FLOW_TRACE_ENTRY::describe() const {
    std::string line = TARVEN::fmt_sprintf("#%u %s", action, action_name);
    const size_t bare = line.size();
    const std::vector<unsigned char>& out = transaction.out;
    const unsigned int sent = sent_address_bytes();
    if (sent > 0)
        line += TARVEN::fmt_sprintf(" addr 0x%0*llX", static_cast<int>(2 * sent), address());
    if (out.size() > sent) line += " out " + short_bytes(out, sent);
    if (transaction.dummy_cycles > 0)
        line += TARVEN::fmt_sprintf(" dummy %u", transaction.dummy_cycles);
    if (!response.in.empty()) line += " in " + short_bytes(response.in, 0);
    if (line.size() > bare) line.insert(bare, ":");
    line += " -> " + response.answer;
    if (repeats > 0) line += TARVEN::fmt_sprintf(" (%u more reads would answer the same)", repeats);
    return line;
}

unsigned int VORN_FLOW_CHECK_RESULT::count(VORN_FLOW_SEVERITY severity) const {
    return static_cast<unsigned int>(
        std::count_if(findings.begin(), findings.end(),
                      [severity](const VORN_FLOW_FINDING& f) { return f.severity == severity; }));
}

const VORN_FLASH_VENDOR_PROFILE* VORN_FLOW_CHECKER::find_profile(const VORN_FLASH& flash) {
    const VORN_FLASH_CONFIG config = VORN_FLASH_CONFIG::from_flash(flash);
    if (!config.id.empty()) {
        const VORN_FLASH_VENDOR_PROFILE* by_id =
            VORN_FLASH_VENDOR_PROFILE::find_profile_of_manufacturer(config.id[0]);
        if (by_id != nullptr) return by_id;
    }
    const int vendor = template_vendor(flash);
    if (vendor < 0) return nullptr;
    return &VORN_FLASH_VENDOR_PROFILE::get_profile(static_cast<VORN_PROG_FLOW_TEMPLATE>(vendor));
}

std::vector<const VORN_FLASH_PART*> VORN_FLOW_CHECKER::find_parts(const VORN_FLASH& flash) {
    const VORN_FLASH_CONFIG config = VORN_FLASH_CONFIG::from_flash(flash);
    return VORN_FLASH_PART::pick_by_name(
        VORN_FLASH_PART::find_by_id(config.id, config.density_bytes), flash.get_name());
}

VORN_FLOW_CHECK_RESULT VORN_FLOW_CHECKER::check_flash(const VORN_FLASH& flash) const {
    VORN_FLOW_CHECK_RESULT result;
    if (flash.get_family() != DEV_FAMILY_QSPI_FLASH) {
        report_device(result, ISSUE_NOT_CHECKED,
                      TARVEN::fmt_sprintf(ISSUE_TABLE[ISSUE_NOT_CHECKED].format,
                                          "only QSPI devices have flows"));
        return result;
    }
    const VORN_FLASH_CONFIG config = VORN_FLASH_CONFIG::from_flash(flash);
    const std::vector<const VORN_FLASH_PART*> parts = find_parts(flash);
    if (!parts.empty()) return check_as_parts(flash, config, parts);

    const VORN_FLASH_VENDOR_PROFILE* profile = find_profile(flash);
    const int vendor = template_vendor(flash);
    const unsigned int manufacturer = config.id.empty() ? 0u : config.id[0];
    // Only a maker without facts of its own is judged as another vendor.
    const bool judged_as =
        m_judge_as >= 0 && VORN_FLASH_VENDOR_PROFILE::find_profile_of_manufacturer(
                               static_cast<unsigned char>(manufacturer)) == nullptr;
    if (judged_as)
        profile = &VORN_FLASH_VENDOR_PROFILE::get_profile(
            static_cast<VORN_PROG_FLOW_TEMPLATE>(m_judge_as));
    if (profile == nullptr) {
        report_device(result, ISSUE_NOT_CHECKED,
                      TARVEN::fmt_sprintf(ISSUE_TABLE[ISSUE_NOT_CHECKED].format,
                                          "neither the ID nor the flow template names one of "
                                          "the five vendors"));
        return result;
    }
    const char* profile_name = VORN_PROG_FLOW_TEMPLATE_NAME[profile->vendor];
    if (judged_as) {
        report_device(
            result, ISSUE_JUDGED_AS,
            TARVEN::fmt_sprintf(ISSUE_TABLE[ISSUE_JUDGED_AS].format, manufacturer, profile_name));
    } else if (config.id.empty() || profile->manufacturer_id != manufacturer) {
        report_device(result, ISSUE_UNKNOWN_MANUFACTURER,
                      TARVEN::fmt_sprintf(ISSUE_TABLE[ISSUE_UNKNOWN_MANUFACTURER].format,
                                          manufacturer, profile_name));
    } else if (vendor >= 0 && vendor != static_cast<int>(profile->vendor)) {
        report_device(result, ISSUE_VENDOR_MISMATCH,
                      TARVEN::fmt_sprintf(ISSUE_TABLE[ISSUE_VENDOR_MISMATCH].format,
                                          VORN_PROG_FLOW_TEMPLATE_NAME[vendor], manufacturer,
                                          profile_name, profile_name));
    }
    if (!has_memory(flash, config, *profile, result)) return result;
    result.vendor = profile_name;
    for (VORN_PROG_FLOW_TYPE flow : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
        FLOW_RUN run(flash, *profile, config, flow, result, m_with_trace);
        run.run();
    }
    return result;
}

bool VORN_FLOW_CHECKER::has_memory(const VORN_FLASH& flash, const VORN_FLASH_CONFIG& config,
                                   const VORN_FLASH_VENDOR_PROFILE& profile,
                                   VORN_FLOW_CHECK_RESULT& result) {
    if (config.density_bytes >= 2ULL * profile.page_size) return true;
    report_device(
        result, ISSUE_NOT_CHECKED,
        TARVEN::fmt_sprintf(ISSUE_TABLE[ISSUE_NOT_CHECKED].format,
                            "the density '" + flash.get_density() + "' gives no memory to model"));
    return false;
}

VORN_FLOW_CHECK_RESULT VORN_FLOW_CHECKER::check_as_parts(
    const VORN_FLASH& flash, const VORN_FLASH_CONFIG& config,
    const std::vector<const VORN_FLASH_PART*>& parts) const {
    VORN_FLOW_CHECK_RESULT result;
    const VORN_FLASH_PART& first = *parts.front();
    const int vendor = template_vendor(flash);
    const char* shape = VORN_PROG_FLOW_TEMPLATE_NAME[first.shape];
    if (vendor >= 0 && vendor != static_cast<int>(first.shape))
        report_device(result, ISSUE_VENDOR_MISMATCH,
                      TARVEN::fmt_sprintf(ISSUE_TABLE[ISSUE_VENDOR_MISMATCH].format,
                                          VORN_PROG_FLOW_TEMPLATE_NAME[vendor], first.id[0],
                                          first.vendor, shape));
    result.vendor = first.shape == VORN_PROG_FLOW_TEMPLATE_WINBOND ? first.vendor : shape;
    // The flow must work on every part the device may be. A finding shows once; when some of
    // the parts pass where it is made, it names the first part it fails on.
    using KEY = std::tuple<int, int, unsigned int, std::string>;
    std::map<KEY, unsigned int> fails_on;
    std::vector<std::pair<VORN_FLOW_FINDING, const VORN_FLASH_PART*>> findings;
    for (const VORN_FLASH_PART* part : parts) {
        result.parts.push_back(part->name);
        const VORN_FLASH_PART_PROFILE profile(*part);
        if (!has_memory(flash, config, profile.get(), result)) return result;
        VORN_FLOW_CHECK_RESULT one;
        for (VORN_PROG_FLOW_TYPE flow : {VORN_PROG_FLOW_TYPE_SFL, VORN_PROG_FLOW_TYPE_SDM}) {
            FLOW_RUN run(flash, profile.get(), config, flow, one, m_with_trace, parts.size() == 1);
            run.run();
        }
        std::set<KEY> once;
        for (VORN_FLOW_FINDING& f : one.findings) {
            const KEY key(f.flow, f.operation, f.action, f.code);
            if (!once.insert(key).second) continue;
            if (fails_on[key]++ == 0) findings.emplace_back(std::move(f), part);
        }
        if (result.trace.empty()) result.trace = std::move(one.trace);
    }
    for (auto& found : findings) {
        VORN_FLOW_FINDING& f = found.first;
        if (fails_on[KEY(f.flow, f.operation, f.action, f.code)] < parts.size())
            f.text += TARVEN::fmt_sprintf(" (as %s)", found.second->name);
        result.findings.push_back(std::move(f));
    }
    return result;
}
