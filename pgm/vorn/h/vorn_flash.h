// Flash device records: identity, density, source file and, per family, parameters and flows.
#ifndef VORN_FLASH_H
#define VORN_FLASH_H

#include "vorn_api.h"

#include <memory>
#include <string>
#include <vector>

#include "vorn_action.h"

struct VORN_FLASH_NOTICE;

class VORN_API VORN_FLASH {
  public:
    explicit VORN_FLASH(const std::string& name);
    virtual ~VORN_FLASH();
    VORN_FLASH(const VORN_FLASH&) = delete;
    VORN_FLASH& operator=(const VORN_FLASH&) = delete;

    virtual std::string get_name() const;
    virtual void set_name(std::string name);
    virtual std::string get_density() const;
    virtual void set_density(std::string density);
    // "512Mb" is 67,108,864; "1GB" 1,073,741,824; unreadable densities are 0.
    virtual unsigned int get_density_in_bytes() const;
    virtual unsigned long long get_density_in_bytes_qword() const;
    virtual std::string get_db_dir() const;
    virtual void set_db_dir(std::string dir);
    virtual bool get_flash_removable_permission() const;
    virtual void set_flash_removable_permission(bool removable);

    virtual DEV_FAMILY_ENUM get_family() const = 0;
    virtual std::string get_generic_name() const = 0;
    // The record keeps ownership of the list and its operations.
    virtual const std::vector<VORN_OPERATION*>* get_operation_list(
        VORN_PROG_FLOW_TYPE flow) const = 0;
    // Appends `op` and takes ownership. Internal errors: a null `op`; a flow the family has not
    // (SFL on an SD/MMC record).
    virtual void add_operation_into_list(VORN_OPERATION* op, VORN_PROG_FLOW_TYPE flow) = 0;
    // Deletes the operations of the chosen list, then takes ownership of `list`'s (which must
    // not hold any of them). Internal errors: an empty `list`; a flow the family has not.
    virtual void set_operation_list(std::vector<VORN_OPERATION*> list,
                                    VORN_PROG_FLOW_TYPE flow) = 0;
    virtual void clear_operation_list() = 0;
    virtual std::string get_parameter_value(VORN_FLASH_PARAM param) const = 0;
    // `out` receives the ID mask for VORN_FLASH_PARAM_ID of a QSPI record; untouched otherwise.
    virtual unsigned int get_parameter_value_in_dword(VORN_FLASH_PARAM param,
                                                      unsigned int* out) const = 0;
    // Internal error: a parameter the family does not store in that form (a QSPI record takes
    // ID, I/O voltage and the two template names as text, ID, dies and dummy cycles as numbers;
    // an SD/MMC record only the I/O voltage, as text). Values are not validated here.
    virtual void set_parameter_value(VORN_FLASH_PARAM param, std::string value) = 0;
    virtual void set_parameter_value(VORN_FLASH_PARAM param, unsigned int value) = 0;

  protected:
    // The lookups of the manager holding the record compare the values it had when a setter
    // last changed one (name, density, a parameter). A subclass that changes them otherwise
    // (m_name or m_density written directly, a value it computes) calls this afterwards.
    void values_changed();
    // Deletes every operation of `list`, last first, and leaves it empty.
    static void delete_operation_list(std::vector<VORN_OPERATION*>& list);
    // Deletes `target`'s operations, last first, and takes over `list`'s; cannot fail, so the
    // caller checks `list` first.
    static void adopt_operation_list(std::vector<VORN_OPERATION*>& target,
                                     std::vector<VORN_OPERATION*>&& list);

    std::string m_name;
    std::string m_density;
    std::string m_db_dir;
    bool m_removable_permission = false;

  private:
    friend struct VORN_HOST_ACCESS;

    // The bytes of the density set_density last stored. m_density is the truth; a subclass
    // that writes it directly has it read again.
    std::string m_density_read;
    unsigned long long m_density_bytes = 0;
    // Told of every change of a value; shared with the manager whose map holds the record,
    // none before a manager's lookup first met it.
    std::shared_ptr<VORN_FLASH_NOTICE> m_notice;
};

#endif
