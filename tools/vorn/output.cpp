// Output of the tool: text or JSON data on stdout, errors and library messages on stderr.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

// An ostream that drops everything: text data under --json.
class NULL_BUFFER : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
};

class NULL_STREAM : public std::ostream {
  public:
    NULL_STREAM() : std::ostream(&m_buffer) {}

  private:
    NULL_BUFFER m_buffer;
};

}  // namespace

json message_json(const MSG_RECORD& record) {
    return json{{"severity", record.severity == 'E' ? "error" : "warning"},
                {"id", record.id},
                {"name", record.name},
                {"text", record.text}};
}

std::string message_line(const MSG_RECORD& record) {
    return std::string(record.severity == 'E' ? "Error" : "Warning") + " (" +
           std::to_string(record.id) + "): " + record.text;
}

void print_table(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::vector<std::string>> cells;
    for (const auto& row : rows) {
        cells.emplace_back();
        for (const std::string& cell : row) cells.back().push_back(printable(cell));
    }
    std::vector<size_t> widths;
    for (const auto& row : cells) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : cells) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << '\n';
    }
}

OUTPUT::OUTPUT(const OPTIONS& options)
    : m_json(options.json), m_verbose(options.verbose), m_null(new NULL_STREAM) {
    m_previous = msg_set_sink([this](const MSG_RECORD& record) { on_message(record); });
}

OUTPUT::~OUTPUT() {
    // The helper outlives main and may still trace while it tears down.
    msg_set_sink(m_previous);
}

std::ostream& OUTPUT::out() { return m_json ? *m_null : std::cout; }

void OUTPUT::on_message(const MSG_RECORD& record) {
    if (m_observer && m_observer(record)) return;
    if (record.severity == 'D') {
        if (m_verbose)
            std::fprintf(stderr, "Debug (%s:%d): %s\n", record.module.c_str(), record.level,
                         record.text.c_str());
        else if (m_previous)
            m_previous(record);  // the default sink still honours VORN_DEBUG
        return;
    }
    if (!m_captures.empty()) {
        m_captures.back().push_back(record);
        return;
    }
    show_message(record);
}

void OUTPUT::show_message(const MSG_RECORD& record) {
    if (m_json)
        m_messages.push_back(message_json(record));
    else
        std::cerr << printable(message_line(record)) << '\n';
}

void OUTPUT::push_capture() { m_captures.emplace_back(); }

std::vector<MSG_RECORD> OUTPUT::pop_capture() {
    if (m_captures.empty()) return {};
    std::vector<MSG_RECORD> records = std::move(m_captures.back());
    m_captures.pop_back();
    return records;
}

void OUTPUT::error(const std::string& text) {
    std::cerr << "vorn: " << printable(text) << '\n';
    m_errors.push_back(text);
}

void OUTPUT::reject(const std::string& field, const std::string& value,
                    const std::vector<MSG_RECORD>& records, const std::string& explanation,
                    const std::string& accepted) {
    if (m_json) {
        json entry{{"field", field},
                   {"value", value},
                   {"id", 0},
                   {"name", ""},
                   {"text", explanation},
                   {"accepted", accepted.empty() ? json(nullptr) : json(accepted)}};
        if (!records.empty()) {
            entry["id"] = records.front().id;
            entry["name"] = records.front().name;
        }
        m_rejected.push_back(entry);
        return;
    }
    if (records.empty()) std::cerr << "vorn: " << printable(explanation) << '\n';
    for (const auto& record : records) show_message(record);
    // The library's warning stays as it is; what would have been accepted is the tool's own.
    if (!accepted.empty()) std::cerr << "vorn: " << accepted << '\n';
}

void OUTPUT::internal_error(const VORN_INTERNAL_ERROR& e) {
    std::cerr << "Internal Error: " << e.what() << " (" << e.file() << ":" << e.line() << ")"
              << std::endl;
    m_doc["internal_error"] = json{
        {"condition", e.what()}, {"module", e.module()}, {"file", e.file()}, {"line", e.line()}};
}

int OUTPUT::finish(int status) {
    if (!m_json) {
        std::cout.flush();
        return status;
    }
    json doc;
    doc["command"] = m_doc.contains("command") ? m_doc["command"] : json("");
    doc["status"] = status;
    for (auto& item : m_data.items()) doc[item.key()] = item.value();
    doc["rejected"] = m_rejected;
    doc["messages"] = m_messages;
    doc["errors"] = m_errors;
    doc["skipped"] = m_skipped;
    if (m_doc.contains("internal_error")) doc["internal_error"] = m_doc["internal_error"];
    // Texts from user files may hold bytes that are not UTF-8; show them replaced, never throw.
    std::cout << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << std::endl;
    return status;
}

void warn(OUTPUT& output, const std::string& text) {
    if (output.json_mode())
        output.data()["warnings"].push_back(text);
    else
        std::cerr << "vorn: warning: " << text << '\n';
}

}  // namespace vorn_tool
