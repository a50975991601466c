// A progress line for long work on a terminal.
#include <unistd.h>

#include <chrono>
#include <iostream>

#include "vorn_tool.h"

namespace vorn_tool {

namespace {

// Redrawing more often than this only slows the work down.
constexpr long long REDRAW_MS = 100;

long long now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PROGRESS::PROGRESS(const OUTPUT& output, std::string what, size_t total)
    : m_enabled(!output.json_mode() && total > 1 && isatty(STDOUT_FILENO) == 1 &&
                isatty(STDERR_FILENO) == 1),
      m_what(std::move(what)),
      m_total(total) {
    draw();
}

void PROGRESS::step() {
    ++m_done;
    if (m_done == m_total || now_ms() - m_last_draw_ms >= REDRAW_MS) draw();
}

void PROGRESS::draw() {
    if (!m_enabled) return;
    std::cout.flush();
    // Carriage return, the line, then erase whatever a longer line left behind.
    std::cerr << '\r' << m_what << ' ' << m_done << '/' << m_total << "\033[K" << std::flush;
    m_shown = true;
    m_last_draw_ms = now_ms();
}

void PROGRESS::clear() {
    if (!m_shown) return;
    std::cerr << "\r\033[K" << std::flush;
    m_shown = false;
    // The next step draws again at once, so the line is back after the interruption.
    m_last_draw_ms = 0;
}

}  // namespace vorn_tool
