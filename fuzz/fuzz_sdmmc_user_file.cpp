// An SD/MMC user file in the custom directory, loaded by a fresh manager with custom SD/MMC
// files enabled; whatever loads must also be writable again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_support.h"

namespace {

std::string g_file;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vorn_fuzz::silence_messages();
    vorn_fuzz::make_programmer_dir(
        vorn_fuzz::small_qspi_golden(0),
        vorn_fuzz::read_text(vorn_fuzz::shipped_data_dir() + "xml/pgm_flash_db_sdmmc.xml"));
    cfg_set_switch("pgm_enable_custom_sdmmc", true);
    const std::string custom = vorn_fuzz::SCRATCH::get().dir("custom");
    VORN_MGR::set_db_custom_dir(custom);
    g_file = custom + "pgm_flash_fuzz.xml";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vorn_fuzz::write_text(g_file, reinterpret_cast<const char*>(data), size);
    try {
        VORN_SDMMC_MGR mgr;
        for (const auto& entry : mgr.get_custom_dir_map()) {
            auto it = mgr.get_flash_map().find(entry.first);
            if (it == mgr.get_flash_map().end())
                vorn_fuzz::finding("map disagreement",
                                   "custom device without a record: " + entry.first);
            std::unique_ptr<PGM_COMMON_XML_ELEMENT> tree(
                mgr.create_xml_object_with_flash_list({it->second}));
            PGM_COMMON_XML::write_xml_string(tree.get());
        }
    } catch (const VORN_INTERNAL_ERROR& e) {
        vorn_fuzz::internal_error_finding(e);
    }
    return 0;
}
