// A user file in the custom directory, loaded by a fresh manager of the family the target is
// built for (VORN_FUZZ_SDMMC: SD/MMC with custom SD/MMC files enabled, otherwise QSPI);
// whatever loads must also be writable again, since a host saves loaded devices back unchanged.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

#ifdef VORN_FUZZ_SDMMC
using MANAGER = VORN_SDMMC_MGR;
constexpr bool SDMMC = true;
#else
using MANAGER = VORN_QSPI_MGR;
constexpr bool SDMMC = false;
#endif

std::string g_file;

void write_back_loaded_entries(MANAGER& mgr) {
    for (const auto& entry : mgr.get_custom_dir_map()) {
        auto it = mgr.get_flash_map().find(entry.first);
        if (it == mgr.get_flash_map().end())
            vorn_fuzz::finding("map disagreement",
                               "custom device without a record: " + entry.first);
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
            mgr.create_xml_object_with_flash_list({it->second}));
        PGM_COMMON_XML::write_xml_string(tree.get());
    }
    std::vector<std::string> templates;
    for (const auto& entry : mgr.get_template_db_dir_map()) {
        if (mgr.get_user_flash_template_map().count(entry.first) == 0)
            vorn_fuzz::finding("map disagreement",
                               "template file without a template: " + entry.first);
        templates.push_back(entry.first);
    }
    if (!templates.empty()) {
        PGM_COMMON_XML_ELEMENT* root = nullptr;
        mgr.create_user_template_with_template_list(root, templates);
        std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(root);
        PGM_COMMON_XML::write_xml_string(tree.get());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vorn_fuzz::silence_messages();
    // One golden device gives a QSPI user file a name to collide with; SD/MMC needs none.
    vorn_fuzz::make_programmer_dir(
        vorn_fuzz::small_qspi_golden(SDMMC ? 0 : 1),
        vorn_fuzz::read_text(vorn_fuzz::shipped_data_dir() + "xml/pgm_flash_db_sdmmc.xml"));
    if (SDMMC) cfg_set_switch("pgm_enable_custom_sdmmc", true);
    const std::string custom = vorn_fuzz::SCRATCH::get().dir("custom");
    VORN_MGR::set_db_custom_dir(custom);
    g_file = custom + "pgm_flash_fuzz.xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn_fuzz::write_text(g_file, reinterpret_cast<const char*>(data), size);
    try {
        MANAGER mgr;
        write_back_loaded_entries(mgr);
    } catch (const VORN_INTERNAL_ERROR& e) {
        vorn_fuzz::internal_error_finding(e);
    }
    return 0;
}
