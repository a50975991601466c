// Commands that change the database: add, edit, delete, template delete.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <tuple>
#include <utility>

#include "vorn_tool.h"

namespace fs = std::filesystem;

namespace vorn_tool {

namespace {

// The vendor whose facts a new part takes: its vendor template's, else the one its
// manufacturer byte names; -1 when neither is known.
int facts_vendor(int template_vendor, const std::string& id) {
    if (template_vendor >= 0) return template_vendor;
    VORN_QSPI_FLASH probe("probe");
    probe.set_parameter_value(VORN_FLASH_PARAM_ID, id);
    const auto* profile = VORN_FLASH_VENDOR_PROFILE::find_profile_of_manufacturer(
        static_cast<unsigned char>(probe.get_id_in_dword(nullptr) & 0xFF));
    return profile != nullptr ? static_cast<int>(profile->vendor) : -1;
}

void ensure_directory(const std::string& dir) {
    if (FIO_FILE_SYSTEM::is_directory(dir)) return;
    if (!FIO_FILE_SYSTEM::create_directories(dir))
        throw REFUSED("cannot create the directory " + dir);
}

// ---- add ----------------------------------------------------------------------------------

// The part the user means by `typed`, and the built-in device whose flows and identity a new
// device of that part takes: the device that is the part alone, by a name of the part first.
std::pair<VORN_FLASH*, const VORN_FLASH_PART*> device_of_part(VORN_QSPI_MGR* mgr,
                                                              const std::string& typed) {
    const std::vector<const VORN_FLASH_PART*> parts = VORN_FLASH_PART::find_by_name(typed);
    if (parts.empty()) {
        std::vector<std::string> names;
        int count = 0;
        const VORN_FLASH_PART* all = VORN_FLASH_PART::get_all(&count);
        for (int i = 0; i < count; ++i)
            for (const std::string& name : all[i].user_names()) names.push_back(name);
        throw REFUSED("no part named '" + typed + "' in the chip facts" +
                      did_you_mean(closest_names(typed, names)));
    }
    if (parts.size() > 1) {
        std::vector<std::string> shown;
        for (const VORN_FLASH_PART* p : parts) {
            char id[32];
            std::snprintf(id, sizeof id, "0x%02X 0x%02X 0x%02X", p->id[0], p->id[1], p->id[2]);
            shown.push_back(std::string(p->name) + " (" + id + ", " +
                            std::to_string(p->density_bytes * 8 >> 20) + "Mb)");
        }
        throw REFUSED("'" + typed + "' names " + std::to_string(parts.size()) +
                      " parts of the chip facts: " + join(shown, ", ") +
                      "; give the chip table's name of one");
    }
    const VORN_FLASH_PART* part = parts.front();
    const std::vector<std::string> part_names = part->user_names();
    VORN_FLASH* best = nullptr;
    int best_rank = 0;
    for (const auto& entry : mgr->get_flash_map()) {
        VORN_FLASH* flash = entry.second;
        if (flash == nullptr || device_source(mgr, flash) != "built-in") continue;
        const auto judged = VORN_FLOW_CHECKER::find_parts(*flash);
        if (std::find(judged.begin(), judged.end(), part) == judged.end()) continue;
        const bool named =
            std::find(part_names.begin(), part_names.end(), entry.first) != part_names.end();
        const int rank = judged.size() > 1 ? 1 : named ? 3 : 2;
        if (rank > best_rank) {
            best = flash;
            best_rank = rank;
        }
    }
    if (best == nullptr)
        throw REFUSED("part " + std::string(part->name) +
                      " has no built-in device whose flows a new device could take; "
                      "data/README.md lists the parts left out and the fact each lacks");
    return {best, part};
}

struct ADD_ARGS {
    std::string name;
    std::string flow_template;
    std::string like;
    std::string id;
    std::string density;
    std::string io_voltage;
    unsigned int die = 1;
    unsigned int dummy = 0;
    unsigned int dummy_x4 = 0;
    std::string part;
    std::string judge_as;
    std::string save_template;
    std::string to = "custom";
    bool force = false;
    bool sdmmc = false;
    CLI::Option* template_option = nullptr;
    CLI::Option* like_option = nullptr;
    CLI::Option* part_option = nullptr;
    CLI::Option* judge_option = nullptr;
    CLI::Option* id_option = nullptr;
    CLI::Option* density_option = nullptr;
    CLI::Option* voltage_option = nullptr;
    CLI::Option* die_option = nullptr;
    CLI::Option* dummy_option = nullptr;
    CLI::Option* dummy_x4_option = nullptr;
    CLI::Option* save_option = nullptr;
};

// A new device the library did not save: why, then `take_back` undoes what was saved with it
// (the reason is read first: undoing replaces it), and that nothing was saved.
int refuse_unsaved(SESSION& session, VORN_MGR* mgr, const std::string& name, const std::string& dir,
                   const std::function<void()>& take_back = {}) {
    session.explain_failed_save(mgr);
    if (take_back) take_back();
    session.output().error("device '" + name + "' could not be saved in " + dir +
                           "; nothing was saved");
    return STATUS_REJECTED;
}

// The device fields a person types (add's options, edit's --set keys), in the order both judge
// them: the record's parameter, whether its value is a number, and the name session.judge gives
// it (QSPI only unless `sdmmc`).
struct TYPED_FIELD {
    const char* key;
    VORN_FLASH_PARAM param;
    bool number;
    const char* label;
    bool sdmmc;
};
const TYPED_FIELD TYPED_FIELDS[] = {
    {"id", VORN_FLASH_PARAM_ID, false, "device ID", false},
    {"density", VORN_FLASH_PARAM_DENSITY, false, "density", true},
    {"io-voltage", VORN_FLASH_PARAM_IO_VOLTAGE, false, "I/O voltage", true},
    {"die", VORN_FLASH_PARAM_TOTAL_DIE, true, "total dies", false},
    {"dummy-cycles", VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, true, "dummy clock cycles", false},
    {"dummy-cycles-x4", VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, true, "dummy clock cycles x4", false},
    {"template", VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, false, "programming flow template", false},
};

// A typed value judged by the library's validator of its field's parameter. The value the
// record takes comes back in *stored (an ID as the library writes its bytes; `typed` false: an
// ID that is the library's own already) or, for a number, in *number.
bool judge_field(SESSION& session, VORN_MGR* mgr, const TYPED_FIELD& f, const std::string& value,
                 bool typed, std::string* stored, unsigned int* number) {
    *stored = value;
    return session.judge(
        f.label, value,
        [&](std::string* msg) {
            if (f.param == VORN_FLASH_PARAM_ID)
                return (!typed || typed_bytes(value, "Device ID", stored, msg)) &&
                       mgr->is_parameter_valid(f.param, *stored, msg) &&
                       id_fits_lookup(*stored, msg);
            if (!f.number) return mgr->is_parameter_valid(f.param, value, msg);
            const bool digits = !value.empty() && value.size() <= 10 &&
                                value.find_first_not_of("0123456789") == std::string::npos &&
                                std::stoull(value) <= UINT_MAX;
            if (!digits) {
                if (msg != nullptr) *msg = std::string(f.key) + " '" + value + "' is not a number.";
                return false;
            }
            *number = static_cast<unsigned int>(std::stoul(value));
            return mgr->is_parameter_valid(f.param, *number, msg);
        },
        {mgr});
}

// An SD/MMC card: a name, a density and a voltage; no ID, dies or flows.
int run_add_sdmmc(SESSION& session, const ADD_ARGS& args) {
    OUTPUT& output = session.output();
    for (const CLI::Option* option : {args.template_option, args.like_option, args.part_option,
                                      args.judge_option, args.id_option, args.die_option,
                                      args.dummy_option, args.dummy_x4_option, args.save_option})
        if (option->count() > 0)
            throw USAGE_ERROR("an SD/MMC card takes --density and --io-voltage only, not " +
                              option->get_name());
    if (args.density_option->count() == 0 || args.voltage_option->count() == 0)
        throw USAGE_ERROR("--sdmmc needs --density and --io-voltage");
    if (!session.name_is_safe(args.name, false)) return STATUS_REJECTED;
    const std::string dir = session.writable_dir(parse_db_dir(args.to));
    session.want_sdmmc();
    VORN_SDMMC_MGR* mgr = session.sdmmc();
    if (mgr == nullptr) throw std::runtime_error("the SD/MMC manager is missing");
    // The library reads SD/MMC user files only under this switch; a card saved without it
    // would be written and never seen again.
    if (!mgr->is_new_device_supported())
        throw REFUSED(
            "SD/MMC user devices are read only when the switch "
            "pgm_enable_custom_sdmmc is on; set `pgm_enable_custom_sdmmc = on` in " +
            cfg_get_switch_file() + " first");
    bool ok = session.judge(
        "device name", args.name,
        [&](std::string* msg) { return mgr->device_name_is_valid(args.name, msg); }, {mgr});
    for (const TYPED_FIELD& f : TYPED_FIELDS) {
        if (!f.sdmmc) continue;
        std::string stored;
        unsigned int number = 0;
        const std::string& typed =
            f.param == VORN_FLASH_PARAM_DENSITY ? args.density : args.io_voltage;
        ok = judge_field(session, mgr, f, typed, true, &stored, &number) && ok;
    }
    if (!ok) {
        output.error("device '" + args.name + "' not added; nothing was saved");
        return STATUS_REJECTED;
    }
    ensure_directory(dir);
    VORN_FLASH* flash = mgr->create_flash(args.name);
    flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, args.io_voltage);
    flash->set_density(args.density);
    if (!mgr->update_db(flash, dir)) return refuse_unsaved(session, mgr, args.name, dir);
    VORN_FLASH* saved = mgr->get_flash_map().at(args.name);
    const std::string file = device_file(mgr, saved);
    output.out() << "Added SD/MMC device '" << args.name << "' to " << file << '\n';
    output.data()["device"] = device_json(mgr, saved, false);
    output.data()["file"] = file;
    output.data()["template_file"] = nullptr;
    output.data()["id_shared_with"] = json::array();
    output.data()["id_lookup_returns"] = nullptr;
    output.data()["flow_check"] = nullptr;
    return STATUS_DONE;
}

// What a new QSPI device is made of, as typed or taken from the device or part it is like.
struct NEW_QSPI_DEVICE {
    bool by_part = false;
    bool like = false;
    bool saving_template = false;
    int judge_as = -1;
    std::string id;
    std::string density;
    std::string voltage;
    unsigned int die = 0;
    unsigned int dummy = 0;
    unsigned int dummy_x4 = 0;
    std::string flow_template;
    const std::vector<VORN_OPERATION*>* sfl = nullptr;
    const std::vector<VORN_OPERATION*>* sdm = nullptr;
    std::string like_name;
    const VORN_FLASH_PART* part = nullptr;
    int vendor = -1;  // the vendor template's index, when the flows come from one
};

// The options that go together, and the typed values; throws USAGE_ERROR.
NEW_QSPI_DEVICE parse_add_args(const ADD_ARGS& args) {
    NEW_QSPI_DEVICE dev;
    dev.by_part = args.part_option->count() > 0;
    dev.like = args.like_option->count() > 0 || dev.by_part;
    dev.saving_template = args.save_option->count() > 0;
    if (args.like_option->count() + args.template_option->count() + args.part_option->count() != 1)
        throw USAGE_ERROR("add takes its flows from one of --template, --like and --part");
    if (!dev.like && (args.id_option->count() == 0 || args.density_option->count() == 0 ||
                      args.voltage_option->count() == 0))
        throw USAGE_ERROR(
            "--id, --density and --io-voltage are needed unless --like or --part gives them");
    dev.judge_as = args.judge_option->count() > 0 ? parse_judge_as(args.judge_as) : -1;
    dev.id = args.id;
    dev.density = args.density;
    dev.voltage = args.io_voltage;
    dev.die = args.die;
    dev.dummy = args.dummy;
    dev.dummy_x4 = args.dummy_x4;
    dev.flow_template = args.flow_template;
    dev.like_name = args.like;
    return dev;
}

// Names first: nothing may be read or written for a name that could leave its directory.
bool add_names_are_safe(SESSION& session, const ADD_ARGS& args, const NEW_QSPI_DEVICE& dev) {
    if (!session.name_is_safe(args.name, false)) return false;
    if (args.like_option->count() > 0 && !session.name_is_safe(args.like, false)) return false;
    if (!dev.like && !session.name_is_safe(args.flow_template, true)) return false;
    if (dev.saving_template && !session.name_is_safe(args.save_template, true)) return false;
    return true;
}

// --part and --like: the built-in device whose flows, and whose values not typed, are taken.
void take_from_like(OUTPUT& output, VORN_QSPI_MGR* mgr, const ADD_ARGS& args,
                    NEW_QSPI_DEVICE& dev) {
    if (dev.by_part) {
        VORN_FLASH* of_part = nullptr;
        std::tie(of_part, dev.part) = device_of_part(mgr, args.part);
        dev.like_name = of_part->get_name();
        output.out() << "Flows and identity of part " << dev.part->name << " (" << dev.part->vendor
                     << "), from built-in device '" << dev.like_name << "'\n";
    }
    if (!dev.like) return;
    const std::string& like_name = dev.like_name;
    VORN_FLASH* base = mgr->get_flash(like_name, true);
    if (base == nullptr) {
        std::vector<std::string> names;
        for (const auto& entry : mgr->get_flash_map()) names.push_back(entry.first);
        throw REFUSED("no QSPI device named '" + like_name + "'" +
                      did_you_mean(closest_names(like_name, names)));
    }
    if (mgr->device_is_legacy(like_name, true))
        throw REFUSED("'" + like_name + "' is a legacy device and has no flows to copy");
    auto given = [](CLI::Option* option) { return option->count() > 0; };
    if (!given(args.id_option)) dev.id = base->get_parameter_value(VORN_FLASH_PARAM_ID);
    if (!given(args.density_option)) dev.density = base->get_density();
    if (!given(args.voltage_option))
        dev.voltage = base->get_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE);
    if (!given(args.die_option))
        dev.die = base->get_parameter_value_in_dword(VORN_FLASH_PARAM_TOTAL_DIE, nullptr);
    if (!given(args.dummy_option))
        dev.dummy = base->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, nullptr);
    if (!given(args.dummy_x4_option))
        dev.dummy_x4 =
            base->get_parameter_value_in_dword(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, nullptr);
    dev.flow_template = base->get_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE);
    dev.sfl = base->get_operation_list(VORN_PROG_FLOW_TYPE_SFL);
    dev.sdm = base->get_operation_list(VORN_PROG_FLOW_TYPE_SDM);
}

// Every field through its validator; all rejections are shown, not just the first.
bool judge_new_device(SESSION& session, VORN_QSPI_MGR* mgr, const ADD_ARGS& args,
                      NEW_QSPI_DEVICE& dev) {
    bool ok = session.judge("device name", args.name, [&](std::string* msg) {
        return mgr->device_name_is_valid(args.name, msg);
    });
    // A typed ID is read as a person writes it; one copied from --like is the library's own.
    const bool id_typed = args.id_option->count() > 0;
    const std::string typed[] = {id_typed ? args.id : dev.id,
                                 dev.density,
                                 dev.voltage,
                                 std::to_string(dev.die),
                                 std::to_string(dev.dummy),
                                 std::to_string(dev.dummy_x4),
                                 dev.flow_template};
    static_assert(std::size(typed) == std::size(TYPED_FIELDS), "one typed value per field");
    for (size_t i = 0; i < std::size(TYPED_FIELDS); ++i) {
        const TYPED_FIELD& f = TYPED_FIELDS[i];
        // A device's flows (--like, --part) come with the template it was saved with.
        if (f.param == VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE && dev.like) continue;
        std::string stored;
        unsigned int number = 0;
        const bool judged = judge_field(session, mgr, f, typed[i], id_typed, &stored, &number);
        if (judged && f.param == VORN_FLASH_PARAM_ID) dev.id = stored;
        ok = judged && ok;
    }
    if (dev.saving_template) {
        ok &= session.judge("template name", args.save_template, [&](std::string* msg) {
            return mgr->template_name_is_valid(args.save_template, msg);
        });
    }
    return ok;
}

// --template: the template's flows, and the vendor's dummy clocks where none were typed.
void take_from_template(OUTPUT& output, VORN_QSPI_MGR* mgr, const ADD_ARGS& args,
                        NEW_QSPI_DEVICE& dev) {
    dev.vendor = vorn_vendor_template_index(dev.flow_template);
    const int facts = facts_vendor(dev.vendor, dev.id);
    const bool dummy_given = args.dummy_option->count() > 0;
    const bool dummy_x4_given = args.dummy_x4_option->count() > 0;
    if (facts >= 0 && (!dummy_given || !dummy_x4_given)) {
        // The vendor's power-up dummy clocks, from its chip facts.
        const VORN_FLASH_VENDOR_PROFILE& profile =
            VORN_FLASH_VENDOR_PROFILE::get_profile(static_cast<VORN_PROG_FLOW_TEMPLATE>(facts));
        if (!dummy_given && profile.dummy_fast_read >= 0)
            dev.dummy = static_cast<unsigned int>(profile.dummy_fast_read);
        if (!dummy_x4_given && profile.dummy_quad_io >= 0)
            dev.dummy_x4 = static_cast<unsigned int>(profile.dummy_quad_io);
        output.out() << "Dummy clock cycles " << dev.dummy << ", x4 " << dev.dummy_x4 << " (the "
                     << VORN_PROG_FLOW_TEMPLATE_NAME[facts] << " defaults where not given)\n";
    }
    if (!vorn_template_flows(*mgr, dev.flow_template, &dev.sfl, &dev.sdm))
        throw REFUSED("no template named '" + dev.flow_template + "'");
}

// Copies of the new device's flows, fitted to the part where the library says so.
std::pair<std::vector<VORN_OPERATION*>, std::vector<VORN_OPERATION*>> copy_new_flows(
    OUTPUT& output, const ADD_ARGS& args, const NEW_QSPI_DEVICE& dev) {
    VORN_QSPI_FLASH probe(args.name);
    probe.set_density(dev.density);
    bool fitted = false;
    // A device's flows (--like, --part) are that device's: fitted already, if ever.
    const std::string from_template = dev.like ? std::string() : dev.flow_template;
    auto copy_flow = [&](const std::vector<VORN_OPERATION*>* list) {
        std::vector<VORN_OPERATION*> out;
        if (list != nullptr &&
            !vorn_flow_for_density(from_template, probe.get_density_in_bytes_qword(), *list, out,
                                   &fitted))
            throw std::runtime_error("a flow holds an operation of no known kind");
        return out;
    };
    std::vector<VORN_OPERATION*> sfl_copy = copy_flow(dev.sfl);
    std::vector<VORN_OPERATION*> sdm_copy = copy_flow(dev.sdm);
    if (fitted)
        output.out() << "Flows of template '" << dev.flow_template
                     << "' fitted to 3-byte addressing for a " << dev.density << " part\n";
    return {sfl_copy, sdm_copy};
}

VORN_FLASH* build_new_record(VORN_QSPI_MGR* mgr, const ADD_ARGS& args, const NEW_QSPI_DEVICE& dev,
                             const std::vector<VORN_OPERATION*>& sfl_copy,
                             const std::vector<VORN_OPERATION*>& sdm_copy) {
    VORN_FLASH* flash = mgr->create_flash(args.name);
    flash->set_parameter_value(VORN_FLASH_PARAM_ID, dev.id);
    flash->set_parameter_value(VORN_FLASH_PARAM_IO_VOLTAGE, dev.voltage);
    flash->set_density(dev.density);
    flash->set_parameter_value(VORN_FLASH_PARAM_TOTAL_DIE, dev.die);
    flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE, dev.dummy);
    flash->set_parameter_value(VORN_FLASH_PARAM_DUMMY_CLK_CYCLE_X4, dev.dummy_x4);
    flash->set_parameter_value(VORN_FLASH_PARAM_PROG_FLOW_TEMPLATE, dev.flow_template);
    if (dev.saving_template)
        flash->set_parameter_value(VORN_FLASH_PARAM_TEMPLATE_NAME, args.save_template);
    if (!sfl_copy.empty()) flash->set_operation_list(sfl_copy, VORN_PROG_FLOW_TYPE_SFL);
    if (!sdm_copy.empty()) flash->set_operation_list(sdm_copy, VORN_PROG_FLOW_TYPE_SDM);
    return flash;
}

// What the new record's flows may not do on its part: warnings, not refusals.
void warn_of_misfits(OUTPUT& output, const ADD_ARGS& args, const NEW_QSPI_DEVICE& dev,
                     const VORN_FLASH& flash) {
    const std::string misfit =
        vorn_flow_addressing_misfit(flash, dev.like ? dev.like_name : dev.flow_template);
    if (!misfit.empty()) warn(output, misfit);
    if (dev.part == nullptr) return;
    const auto judged = VORN_FLOW_CHECKER::find_parts(flash);
    if (judged.size() > 1) {
        std::vector<std::string> names;
        for (const VORN_FLASH_PART* p : judged) names.push_back(p->name);
        warn(output, "'" + args.name + "' does not start with a name of part " + dev.part->name +
                         ", so its flows are checked as every part of its ID and density (" +
                         join(names, ", ") + "); a name starting with " +
                         dev.part->user_names().front() + " makes it that part");
    }
}

// The flow check's findings; true, with the record dropped, when they stop the save.
bool flows_block_add(OUTPUT& output, VORN_QSPI_MGR* mgr, const ADD_ARGS& args,
                     const NEW_QSPI_DEVICE& dev, VORN_FLASH* flash) {
    json flow_check;
    const bool blocked = report_flow_check(output, *flash, !args.force, flow_check, dev.judge_as);
    output.data()["flow_check"] = flow_check;
    if (!blocked) return false;
    mgr->get_flash(args.name, true);  // the manager lets go of the record first
    delete flash;
    output.error("device '" + args.name +
                 "' not added: its flows have error-level findings; nothing was saved "
                 "(--force saves it anyway)");
    return true;
}

// What the add saved: the device's file, the devices sharing its ID, and its template.
int report_added(SESSION& session, VORN_QSPI_MGR* mgr, const ADD_ARGS& args,
                 const NEW_QSPI_DEVICE& dev, const std::string& dir,
                 const std::string& template_file, bool template_saved) {
    OUTPUT& output = session.output();
    VORN_FLASH* saved = mgr->get_flash_map().at(args.name);
    const std::string file = device_file(mgr, saved);
    output.out() << "Added device '" << args.name << "' to " << file << '\n';
    json& data = output.data();
    data["device"] = device_json(mgr, saved, false);
    data["file"] = file;
    data["template_file"] = nullptr;
    // Several devices answering one ID: the lookup gives the first in name order.
    unsigned int mask = 0;
    const unsigned int value = saved->get_parameter_value_in_dword(VORN_FLASH_PARAM_ID, &mask);
    std::vector<std::string> sharing = mgr->get_flash_names_with_id(value, mask);
    sharing.erase(std::remove(sharing.begin(), sharing.end(), args.name), sharing.end());
    data["id_shared_with"] = sharing;
    data["id_lookup_returns"] = nullptr;
    if (!sharing.empty()) {
        VORN_FLASH* found = mgr->get_flash_with_id(value, mask);
        const std::string returned = found != nullptr ? found->get_name() : "";
        data["id_lookup_returns"] = returned;
        output.out() << "ID " << dev.id << " is also the ID of " << printable(join(sharing, ", "))
                     << "; a lookup by this ID returns " << printable(returned) << ".\n";
    }
    if (template_saved) {
        output.out() << "Saved template '" << args.save_template << "' to " << template_file
                     << '\n';
        data["template_file"] = template_file;
    } else if (dev.saving_template) {
        session.explain_failed_save(mgr);
        output.error("template '" + args.save_template + "' could not be saved in " + dir +
                     "; the device was saved");
        return STATUS_REJECTED;
    }
    return STATUS_DONE;
}

int run_add(SESSION& session, const ADD_ARGS& args) {
    if (args.sdmmc) return run_add_sdmmc(session, args);
    OUTPUT& output = session.output();
    NEW_QSPI_DEVICE dev = parse_add_args(args);
    if (!add_names_are_safe(session, args, dev)) return STATUS_REJECTED;
    const std::string dir = session.writable_dir(parse_db_dir(args.to));
    VORN_QSPI_MGR* mgr = session.qspi();
    take_from_like(output, mgr, args, dev);
    if (!judge_new_device(session, mgr, args, dev)) {
        output.error("device '" + args.name + "' not added; nothing was saved");
        return STATUS_REJECTED;
    }
    if (dev.judge_as >= 0) {
        VORN_QSPI_FLASH probe(args.name);
        probe.set_parameter_value(VORN_FLASH_PARAM_ID, dev.id);
        refuse_judge_as_for_known_maker(probe);
    }
    if (!dev.like) take_from_template(output, mgr, args, dev);
    const auto flows = copy_new_flows(output, args, dev);
    ensure_directory(dir);
    VORN_FLASH* flash = build_new_record(mgr, args, dev, flows.first, flows.second);
    warn_of_misfits(output, args, dev, *flash);
    if (flows_block_add(output, mgr, args, dev, flash)) return STATUS_REJECTED;

    // The device and its template are two saves: either may fail while the other succeeds
    // (the library's answer is the template's then), so each is judged by what it left.
    mgr->update_db(flash, dir);
    const VORN_SAVE_FILES& saved_files = mgr->get_last_save_files();
    const bool device_saved = !saved_files.device_file.empty();
    const std::string template_file = saved_files.template_file;
    const bool template_saved = dev.saving_template && !template_file.empty();
    if (!device_saved) {
        // An add that did not add its device leaves nothing behind, its template included.
        return refuse_unsaved(session, mgr, args.name, dir, [&] {
            if (template_saved) mgr->delete_template(args.save_template);
        });
    }
    return report_added(session, mgr, args, dev, dir, template_file, template_saved);
}

// ---- edit ---------------------------------------------------------------------------------

struct EDIT_ARGS {
    std::string name;
    std::string to;
    bool force = false;
    std::vector<std::string> sets;
    CLI::Option* to_option = nullptr;
};

std::string settable_keys() {
    std::string keys;
    for (const TYPED_FIELD& f : TYPED_FIELDS)
        keys += (keys.empty() ? "" : ", ") + std::string(f.key);
    return keys;
}

// Judges one FIELD=VALUE and, when it passes, gives it to `draft`.
bool apply_setting(SESSION& session, VORN_MGR* mgr, const TYPED_FIELD& f, const std::string& value,
                   VORN_FLASH* draft) {
    std::string stored;
    unsigned int number = 0;
    if (!judge_field(session, mgr, f, value, true, &stored, &number)) return false;
    if (f.param == VORN_FLASH_PARAM_DENSITY)
        draft->set_density(stored);
    else if (f.number)
        draft->set_parameter_value(f.param, number);
    else
        draft->set_parameter_value(f.param, stored);
    return true;
}

// The text of the device's file with every --set applied, written by the library from a draft
// of the record; false after showing every refusal.
bool apply_settings(SESSION& session, VORN_MGR* mgr, const VORN_FLASH* flash, const EDIT_ARGS& args,
                    std::string& text) {
    const bool sdmmc = dynamic_cast<VORN_QSPI_MGR*>(mgr) == nullptr;
    auto discard = [mgr](VORN_FLASH* draft) { vorn_discard_draft(mgr, draft); };
    std::unique_ptr<VORN_FLASH, decltype(discard)> draft(vorn_make_draft(flash), discard);
    if (draft == nullptr) throw std::runtime_error("cannot copy the device '" + args.name + "'");
    bool ok = true;
    for (const std::string& setting : args.sets) {
        const size_t eq = setting.find('=');
        const std::string key = setting.substr(0, eq);
        const TYPED_FIELD* field = nullptr;
        for (const TYPED_FIELD& f : TYPED_FIELDS)
            if (key == f.key) field = &f;
        if (eq == std::string::npos || field == nullptr)
            throw USAGE_ERROR("--set takes FIELD=VALUE, FIELD one of " + settable_keys());
        if (sdmmc && !field->sdmmc)
            throw REFUSED("an SD/MMC device has no " + key + "; it takes density and io-voltage");
        ok = apply_setting(session, mgr, *field, setting.substr(eq + 1), draft.get()) && ok;
    }
    if (!ok) {
        session.output().error("device '" + args.name + "' not changed; nothing was saved");
        return false;
    }
    text = device_text(mgr, draft.get());
    return true;
}

// A private directory for the file being edited, removed with everything in it unless the
// text in it is to be kept.
class SCRATCH_DIR {
  public:
    SCRATCH_DIR() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vorn-edit-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr)
            throw REFUSED("cannot create a temporary directory for the edit");
        m_path = pattern + "/";
    }
    ~SCRATCH_DIR() {
        if (m_keep) return;
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    void keep() { m_keep = true; }
    SCRATCH_DIR(const SCRATCH_DIR&) = delete;
    SCRATCH_DIR& operator=(const SCRATCH_DIR&) = delete;
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
    bool m_keep = false;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// $VISUAL, else $EDITOR, else vi; the command may carry its own arguments.
int run_editor(const std::string& path) {
    const char* editor = std::getenv("VISUAL");
    if (editor == nullptr || *editor == '\0') editor = std::getenv("EDITOR");
    if (editor == nullptr || *editor == '\0') editor = "vi";
    std::cout.flush();
    const std::string command = std::string(editor) + " \"$1\"";
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), "vorn-edit", path.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a file held when the editor opened, to tell whether another writer changed it meanwhile.
struct FILE_STATE {
    bool exists = false;
    std::string text;
    bool operator!=(const FILE_STATE& other) const {
        return exists != other.exists || text != other.text;
    }
};

FILE_STATE file_state(const std::string& path) {
    FILE_STATE state;
    state.exists = FIO_FILE_SYSTEM::exists(path);
    if (state.exists) state.text = read_file(path);
    return state;
}

bool ask_again() {
    std::cerr << "Edit again? [Y/n] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer.empty() || answer[0] == 'y' || answer[0] == 'Y';
}

void write_scratch(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw REFUSED("cannot write the temporary file " + path);
}

// The edited file judged as an import with --replace into `target` would judge it, and as the
// one device `name` still.
USER_FILE check_edited_file(SESSION& session, DB_DIR target, const std::string& name,
                            const std::string& path) {
    CHECK_POLICY policy;
    policy.target = target;
    policy.saved_by_update = true;
    policy.replace = true;
    policy.own_device = name;
    USER_FILE checked = USER_FILE_CHECKER(session, policy).check(path);
    if (!checked.report.read) return checked;
    if (checked.report.devices.size() != 1 || !checked.report.templates.empty())
        checked.problems.push_back(
            PROBLEM{0, 0, 0, "", "the file must hold exactly one device and no template"});
    else if (checked.device_names.front() != name)
        checked.problems.push_back(PROBLEM{0, 0, 0, "",
                                           "the device name must stay '" + name +
                                               "'; `vorn add NEW --like " + name +
                                               "` makes a copy"});
    return checked;
}

int run_edit(SESSION& session, const EDIT_ARGS& args) {
    OUTPUT& output = session.output();
    if (!session.name_is_safe(args.name, false)) return STATUS_REJECTED;
    VORN_MGR* mgr = session.known_manager_of(args.name);
    if (mgr->device_is_legacy(args.name, true))
        throw REFUSED("'" + args.name +
                      "' is a legacy device known to the programmer only; it has no database "
                      "entry to edit");
    VORN_FLASH* flash = mgr->get_current_flash();
    const std::string source = device_source(mgr, flash);
    DB_DIR target = source == "zentro" ? DB_DIR::ZENTRO : DB_DIR::CUSTOM;
    if (args.to_option->count() > 0) target = parse_db_dir(args.to);
    if (source == "built-in" && target == DB_DIR::ZENTRO)
        throw REFUSED("'" + args.name +
                      "' is built in; an edited copy goes to the custom directory");
    // Refused before the editor opens, not after the work is done.
    const std::string dir = session.writable_dir(target);

    const std::string original = device_text(mgr, flash);
    SCRATCH_DIR scratch;
    const std::string path = scratch.path() + PGM_COMMON::flash_file_name(args.name);
    write_scratch(path, original);

    // Text that was not saved stays where the messages about it point, with the way back in.
    auto keep_text = [&](const std::string& why) {
        scratch.keep();
        output.error(why + "; nothing was saved. The edited text is kept in " + path +
                     "; once mended, `vorn import --replace" +
                     (target == DB_DIR::ZENTRO ? " --to zentro " : " ") + path + "` saves it");
        output.data()["kept"] = path;
        return STATUS_REJECTED;
    };
    // The device's file and the one the save writes, as they were when loaded.
    std::vector<std::pair<std::string, FILE_STATE>> watched;
    for (const std::string& file :
         {device_file(mgr, flash), dir + PGM_COMMON::flash_file_name(args.name)})
        if (!file.empty()) watched.emplace_back(file, file_state(file));
    USER_FILE checked;
    for (;;) {
        if (!args.sets.empty()) {
            std::string text;
            if (!apply_settings(session, mgr, flash, args, text)) return STATUS_REJECTED;
            write_scratch(path, text);
        }
        const int status = args.sets.empty() ? run_editor(path) : 0;
        if (status != 0) {
            const std::string why = "the editor ended with status " + std::to_string(status);
            if (read_file(path) != original) return keep_text(why);
            output.error(why + "; nothing was saved");
            return STATUS_REJECTED;
        }
        if (read_file(path) == original) {
            output.out() << "No changes; nothing was saved.\n";
            output.data()["saved"] = false;
            return STATUS_DONE;
        }
        checked = check_edited_file(session, target, args.name, path);
        if (checked.problems.empty()) break;
        report_file(std::cerr, checked);
        output.data()["problems"] = file_json(checked)["problems"];
        if (!args.sets.empty()) {
            output.error("device '" + args.name + "' not changed; nothing was saved");
            return STATUS_REJECTED;
        }
        if (!isatty(STDIN_FILENO) || !ask_again())
            return keep_text("the edit of '" + args.name + "' was rejected");
    }

    ensure_directory(dir);
    session.lock_database();
    for (const auto& entry : watched)
        if (file_state(entry.first) != entry.second)
            return keep_text("the file " + entry.first + " changed while the editor was open");
    std::unique_ptr<VORN_FLASH> record = std::move(checked.report.devices.front().record);
    // SD/MMC cards have no flows to check.
    json flow_check = nullptr;
    const bool blocked =
        !checked.sdmmc && report_flow_check(output, *record, !args.force, flow_check);
    output.data()["flow_check"] = flow_check;
    if (blocked)
        return keep_text("the edit of '" + args.name +
                         "' was rejected: its flows have error-level findings (--force saves "
                         "it anyway)");
    if (!mgr->update_db(record.release(), dir)) {
        session.explain_failed_save(mgr);
        return keep_text("device '" + args.name + "' could not be saved in " + dir);
    }
    VORN_FLASH* saved = mgr->get_flash_map().at(args.name);
    const std::string file = device_file(mgr, saved);
    output.out() << "Saved device '" << args.name << "' to " << file << '\n';
    output.data()["saved"] = true;
    output.data()["file"] = file;
    output.data()["device"] = device_json(mgr, saved, false);
    return STATUS_DONE;
}

// ---- delete -------------------------------------------------------------------------------

struct DELETE_ARGS {
    std::string name;
    std::string from;
    CLI::Option* from_option = nullptr;
};

int run_delete(SESSION& session, const DELETE_ARGS& args) {
    OUTPUT& output = session.output();
    if (!session.name_is_safe(args.name, false)) return STATUS_REJECTED;
    VORN_MGR* mgr = session.manager_of(args.name);
    if (mgr == nullptr) {
        const auto templates = session.qspi()->get_user_template_list();
        if (std::find(templates.begin(), templates.end(), args.name) != templates.end())
            throw REFUSED("no device named '" + args.name + "'; `vorn template delete " +
                          args.name + "` deletes the user template");
        mgr = session.known_manager_of(args.name);  // refuses with the closest names
    }
    if (mgr->device_is_legacy(args.name, true))
        throw REFUSED("'" + args.name +
                      "' is a legacy device known to the programmer only; there is nothing to "
                      "delete");
    VORN_FLASH* flash = mgr->get_current_flash();
    if (!flash->get_flash_removable_permission())
        throw REFUSED("'" + args.name + "' is a built-in device and cannot be deleted");

    const std::string active = device_file(mgr, flash);
    const std::string active_dir = directory_of(active);
    DB_DIR from = DB_DIR::CUSTOM;
    if (args.from_option->count() > 0) {
        from = parse_db_dir(args.from);
    } else if (active_dir == session.db_dir(DB_DIR::CUSTOM)) {
        from = DB_DIR::CUSTOM;
    } else if (active_dir == session.db_dir(DB_DIR::ZENTRO)) {
        from = DB_DIR::ZENTRO;
    } else {
        throw REFUSED("'" + args.name + "' comes from " + active +
                      ", which is in neither database directory");
    }
    const std::string dir = session.writable_dir(from);
    const auto& map =
        from == DB_DIR::CUSTOM ? mgr->get_custom_dir_map() : mgr->get_zentro_dir_map();
    if (map.count(args.name) == 0)
        throw REFUSED("'" + args.name + "' is not in the " + db_dir_name(from) + " directory");
    if (active_dir != dir)
        throw REFUSED("'" + args.name + "' is in use from " + active +
                      "; delete that copy first (--from " +
                      db_dir_name(from == DB_DIR::CUSTOM ? DB_DIR::ZENTRO : DB_DIR::CUSTOM) + ")");
    if (!mgr->delete_db(args.name, dir)) {
        session.explain_failed_save(mgr);
        output.error("device '" + args.name + "' could not be deleted from " + dir);
        return STATUS_REJECTED;
    }
    output.out() << "Deleted device '" << args.name << "' from " << active << '\n';
    output.data()["name"] = args.name;
    output.data()["file"] = active;
    return STATUS_DONE;
}

// ---- template delete ----------------------------------------------------------------------

int run_template_delete(SESSION& session, const std::string& name) {
    OUTPUT& output = session.output();
    if (!session.name_is_safe(name, true)) return STATUS_REJECTED;
    VORN_QSPI_MGR* mgr = session.qspi();
    if (vorn_vendor_template_index(name) >= 0)
        throw REFUSED("'" + name + "' is a vendor template and cannot be deleted");
    const auto& files = mgr->get_template_db_dir_map();
    auto it = files.find(name);
    if (it == files.end())
        throw REFUSED("no user template named '" + name + "'" +
                      did_you_mean(closest_names(name, mgr->get_user_template_list())));
    const std::string file = it->second;
    if (directory_of(file) == session.db_dir(DB_DIR::CUSTOM)) session.writable_dir(DB_DIR::CUSTOM);
    if (!mgr->delete_template(name)) {
        output.error("template '" + name + "' could not be deleted");
        return STATUS_REJECTED;
    }
    output.out() << "Deleted template '" << name << "' from " << file << '\n';
    output.data()["name"] = name;
    output.data()["file"] = file;
    return STATUS_DONE;
}

}  // namespace

void add_edit_commands(CLI::App& app, std::vector<COMMAND>& commands) {
    const std::vector<std::string> dirs = db_dir_names();

    auto add = std::make_shared<ADD_ARGS>();
    CLI::App* cmd = app.add_subcommand(
        "add", "Add a user device; every value is judged by the library before anything is saved");
    cmd->add_option("name", add->name, "Name of the new device")->required();
    add->template_option = cmd->add_option("--template", add->flow_template,
                                           "Vendor (Micron, Macronix, Cypress, Winbond, Issi) or "
                                           "user template giving the flows");
    add->like_option =
        cmd->add_option("--like", add->like, "Existing device giving the flows and default values");
    add->part_option = cmd->add_option(
        "--part", add->part,
        "Part of the chip facts (such as MT25QL256 or W25Q256JV) whose built-in flows, ID, "
        "density, voltage, dies and dummy cycles the device takes");
    add->template_option->excludes(add->like_option);
    add->part_option->excludes(add->like_option);
    add->part_option->excludes(add->template_option);
    add->judge_option = cmd->add_option(
        "--judge-as", add->judge_as,
        "Check the flows of a part whose manufacturer byte has no facts by this vendor's "
        "command set (Micron, Macronix, Cypress, Winbond, Issi)");
    add->id_option = cmd->add_option("--id", add->id, ID_OPTION_HELP);
    add->density_option = cmd->add_option("--density", add->density, "Density, such as 256Mb");
    add->voltage_option = cmd->add_option("--io-voltage", add->io_voltage, "I/O voltage");
    add->die_option = cmd->add_option("--die", add->die, "Number of dies (default 1)");
    add->dummy_option = cmd->add_option(
        "--dummy-cycles", add->dummy,
        "Dummy clock cycles of the fast read 0x0B (default: the vendor's, 8; 0 when no "
        "vendor is known)");
    add->dummy_x4_option = cmd->add_option(
        "--dummy-cycles-x4", add->dummy_x4,
        "Dummy clock cycles of the quad I/O read 0xEB (default: the vendor's, 10 for Micron, "
        "6 for the others)");
    add->save_option = cmd->add_option("--save-template", add->save_template,
                                       "Also save the flows as a user template of this name");
    cmd->add_option("--to", add->to, "Directory to save in (default custom)")
        ->check(CLI::IsMember(dirs));
    cmd->add_flag("--sdmmc", add->sdmmc,
                  "Add an SD/MMC card (--density and --io-voltage only); needs the switch "
                  "pgm_enable_custom_sdmmc on");
    cmd->footer(accepted_values_help());
    cmd->add_flag("--force", add->force,
                  "Save the device even when its flow check finds an error (refused otherwise)");
    commands.push_back({cmd, [add](SESSION& s) { return run_add(s, *add); }, true});

    auto edit = std::make_shared<EDIT_ARGS>();
    cmd = app.add_subcommand("edit",
                             "Edit a device as a user file in $VISUAL or $EDITOR, then check "
                             "and save it");
    cmd->add_option("name", edit->name, "Device name")->required();
    edit->to_option =
        cmd->add_option("--to", edit->to,
                        "Directory to save in (default: where the device is; custom for "
                        "built-in devices)")
            ->check(CLI::IsMember(dirs));
    cmd->add_flag("--force", edit->force,
                  "Save the edit even when its flow check finds an error (refused otherwise)");
    cmd->add_option("--set", edit->sets,
                    "FIELD=VALUE: change one field without an editor (repeatable); FIELD is " +
                        settable_keys() + " (SD/MMC devices: density, io-voltage)")
        ->allow_extra_args(false);
    // The lock is taken only to save: another writer need not wait while a person types.
    commands.push_back({cmd, [edit](SESSION& s) { return run_edit(s, *edit); }, false});

    auto del = std::make_shared<DELETE_ARGS>();
    cmd = app.add_subcommand("delete", "Delete a user device (built-in devices are refused)");
    cmd->add_option("name", del->name, "Device name")->required();
    del->from_option = cmd->add_option("--from", del->from,
                                       "Directory to delete from (default: where the device is)")
                           ->check(CLI::IsMember(dirs));
    commands.push_back({cmd, [del](SESSION& s) { return run_delete(s, *del); }, true});

    auto template_name = std::make_shared<std::string>();
    CLI::App* group = app.get_subcommand("template");
    cmd = group->add_subcommand("delete", "Delete a user template");
    cmd->add_option("name", *template_name, "Template name")->required();
    commands.push_back(
        {cmd, [template_name](SESSION& s) { return run_template_delete(s, *template_name); },
         true});
}

}  // namespace vorn_tool
