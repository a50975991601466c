#define VORN_SOURCE_FILE "pgm/vorn/vorn_flash"

#include "vorn_flash.h"

#include <cstddef>
#include <utility>

#include "vorn_internal.h"

static MEM_INITIALIZER mem_initializer("VORN");

namespace {

// "<decimal digits><G|M>[b]": G and M are binary units, a lower-case b after the unit means
// bits. Anything else (no unit, other units, lower-case units, fractions) is unreadable: 0.
unsigned long long parse_density_in_bytes(const std::string& density) {
    size_t digits = 0;
    while (digits < density.size() && density[digits] >= '0' && density[digits] <= '9') ++digits;
    if (digits == 0 || digits == density.size()) return 0;

    unsigned long long multiplier = 0;
    switch (density[digits]) {
        case 'G':
            multiplier = 1ULL << 30;
            break;
        case 'M':
            multiplier = 1ULL << 20;
            break;
        default:
            return 0;
    }
    if (digits + 1 < density.size() && density[digits + 1] == 'b') multiplier /= 8;

    return PGM_COMMON::convert_string_to_qword(density.substr(0, digits), true) * multiplier;
}

}  // namespace

VORN_FLASH::VORN_FLASH(const std::string& name) : m_name(name) {}

VORN_FLASH::~VORN_FLASH() { values_changed(); }

std::string VORN_FLASH::get_name() const { return m_name; }

void VORN_FLASH::set_name(std::string name) {
    m_name = std::move(name);
    values_changed();
}

std::string VORN_FLASH::get_density() const { return m_density; }

void VORN_FLASH::set_density(std::string density) {
    m_density = std::move(density);
    m_density_read = m_density;
    m_density_bytes = parse_density_in_bytes(m_density);
    values_changed();
}

unsigned int VORN_FLASH::get_density_in_bytes() const {
    return static_cast<unsigned int>(get_density_in_bytes_qword() & 0xFFFFFFFFULL);
}

unsigned long long VORN_FLASH::get_density_in_bytes_qword() const {
    return m_density == m_density_read ? m_density_bytes : parse_density_in_bytes(m_density);
}

std::string VORN_FLASH::get_db_dir() const { return m_db_dir; }

void VORN_FLASH::set_db_dir(std::string dir) { m_db_dir = std::move(dir); }

bool VORN_FLASH::get_flash_removable_permission() const { return m_removable_permission; }

void VORN_FLASH::set_flash_removable_permission(bool removable) {
    m_removable_permission = removable;
}

void VORN_FLASH::values_changed() {
    if (m_notice != nullptr) m_notice->record_edited(this);
}

void VORN_FLASH::delete_operation_list(std::vector<VORN_OPERATION*>& list) {
    while (!list.empty()) {
        VORN_OPERATION* last = list.back();
        list.pop_back();
        delete last;
    }
}

void VORN_FLASH::adopt_operation_list(std::vector<VORN_OPERATION*>& target,
                                      std::vector<VORN_OPERATION*>&& list) {
    std::vector<VORN_OPERATION*> old;
    old.swap(target);
    target = std::move(list);
    delete_operation_list(old);
}
