// The tool's side of fitting vendor flows to a part: the fitting itself is the library's.
#include <iostream>

#include "vorn_flow_fit.h"
#include "vorn_tool.h"

namespace vorn_tool {

std::vector<VORN_OPERATION*> fit_flow_to_three_bytes(VORN_PROG_FLOW_TEMPLATE vendor,
                                                     const std::vector<VORN_OPERATION*>& flow) {
    return vorn_fit_flow_to_three_bytes(VORN_FLASH_VENDOR_PROFILE::get_profile(vendor), flow);
}

std::string addressing_misfit(const VORN_FLASH& flash, const std::string& source) {
    return vorn_flow_addressing_misfit(flash, source);
}

void warn(OUTPUT& output, const std::string& text) {
    if (output.json_mode())
        output.data()["warnings"].push_back(text);
    else
        std::cerr << "vorn: warning: " << text << '\n';
}

}  // namespace vorn_tool
