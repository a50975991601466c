// Texts read from files, shown safely, and names found again when typed slightly wrong.
#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

std::string lower(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Edits (insert, delete, replace) from a to b, or `limit` + 1 once it is clear there are more.
size_t edit_distance(const std::string& a, const std::string& b, size_t limit) {
    if ((a.size() > b.size() ? a.size() - b.size() : b.size() - a.size()) > limit) return limit + 1;
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return std::min(row[b.size()], limit + 1);
}

}  // namespace

std::string join(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
    return out;
}

std::string printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // C1 controls arrive as UTF-8 pairs C2 80 to C2 9F; some terminals obey them too.
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F || c1) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X",
                          c1 ? static_cast<unsigned char>(text[++i]) : c);
            out += escape;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string name_cell(const std::string& name) {
    if (name.size() <= NAME_CELL_LIMIT) return name;
    // The cut is marked with what is left out, so two long names never look the same.
    return name.substr(0, NAME_CELL_LIMIT) + "...(" +
           std::to_string(name.size() - NAME_CELL_LIMIT) + " more)";
}

std::vector<std::string> closest_names(const std::string& name,
                                       const std::vector<std::string>& candidates) {
    const std::string wanted = lower(name);
    // A quarter of the name may be mistyped, at least one character, at most three.
    const size_t limit = std::min<size_t>(3, std::max<size_t>(1, name.size() / 4));
    std::vector<std::pair<size_t, std::string>> scored;
    for (const std::string& candidate : candidates) {
        const size_t distance = edit_distance(wanted, lower(candidate), limit);
        if (distance <= limit) scored.emplace_back(distance, candidate);
    }
    std::sort(scored.begin(), scored.end());
    std::vector<std::string> out;
    for (const auto& entry : scored) {
        // The same name in another case is surely the one meant; nothing else is offered then.
        if (out.size() == 3 || (entry.first > 0 && !scored.empty() && scored[0].first == 0)) break;
        if (std::find(out.begin(), out.end(), entry.second) == out.end())
            out.push_back(entry.second);
    }
    return out;
}

std::string did_you_mean(const std::vector<std::string>& names) {
    if (names.empty()) return "";
    std::string text = "; did you mean ";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += i + 1 == names.size() ? " or " : ", ";
        text += names[i];
    }
    return text + "?";
}

bool glob_matches(const std::string& pattern, const std::string& name) {
    return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

}  // namespace vorn_tool
