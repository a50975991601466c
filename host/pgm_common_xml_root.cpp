// The document element of a file, told before a family's manager is asked for.
#include <fstream>

#include "host_text.h"
#include "pgm_common_xml_export.h"

namespace {

// A document element starts this far into a file at the latest, past the declaration and any
// comments a person puts before it.
constexpr std::streamsize HEAD_BYTES = 65536;

bool is_xml_name_char(char c) {
    return HOST_TEXT::is_word_char(c) || c == ':' || c == '-' || c == '.';
}

}  // namespace

std::string PGM_COMMON_XML::document_element(const std::string& xml_file) {
    std::ifstream in(xml_file, std::ios::binary);
    std::string head(static_cast<size_t>(HEAD_BYTES), '\0');
    in.read(&head[0], HEAD_BYTES);
    head.resize(static_cast<size_t>(in.gcount()));
    size_t pos = 0;
    while ((pos = head.find('<', pos)) != std::string::npos) {
        if (pos + 1 < head.size() && (head[pos + 1] == '?' || head[pos + 1] == '!')) {
            if (head.compare(pos, 4, "<!--") == 0) {
                const size_t end = head.find("-->", pos + 4);
                if (end == std::string::npos) return "";
                pos = end + 3;
            } else {
                ++pos;
            }
            continue;
        }
        size_t end = pos + 1;
        while (end < head.size() && is_xml_name_char(head[end])) ++end;
        return head.substr(pos + 1, end - pos - 1);
    }
    return "";
}
