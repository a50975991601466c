// Host configuration: on/off switches and the user INI file.
#ifndef PGM_H_CFG_EXPORT_H
#define PGM_H_CFG_EXPORT_H

#include "pgm_api.h"

#include <string>

// Reads `key = value` lines (sections optional) from the switch file: $VORN_INI, default
// $XDG_CONFIG_HOME/vorn/vorn.ini or ~/.config/vorn/vorn.ini. on/1/true/yes and
// off/0/false/no in any case; anything else or absent gives `default_value`. A process
// override set with cfg_set_switch wins over the file. A change of the file is seen by the
// next call.
PGM_API bool cfg_is_on(const std::string& name, bool default_value);
PGM_API void cfg_set_switch(const std::string& name, bool value);
PGM_API void cfg_clear_switches();
// The switch file in use (it need not exist).
PGM_API std::string cfg_get_switch_file();

// Entries of the user INI file ($VORN_USER_INI, default $XDG_CONFIG_HOME/vorn/user.ini).
enum CFG_USER_INI_ENUMS { CFG_USER_INI_VORN_CUSTOM_DB_DIR = 94 };

// The stored text, empty when unset (the file is read on first use and after a write).
PGM_API std::string cfg_get_user_ini_value(CFG_USER_INI_ENUMS entry);
// Changes the value in memory; false for an unknown entry.
PGM_API bool cfg_set_user_ini_value(CFG_USER_INI_ENUMS entry, const std::string& value);
// Persists the in-memory values, creating the folder; false when it cannot be written.
PGM_API bool cfg_write_user_ini_file();
// The user INI file in use (it need not exist).
PGM_API std::string cfg_get_user_ini_file();
// Forgets the in-memory values so that the next get reads the file again.
PGM_API void cfg_reload_user_ini();

#endif
