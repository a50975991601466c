// libxml2's memory while a document is read, validated and freed.
//
// A database is hundreds of documents of a few thousand nodes each, parsed, validated and
// freed one after the other while the records built from them stay. On the process heap the
// documents' short-lived nodes land in the holes between those records, and the allocator's
// work per document grows with the number of records already loaded. Inside a document scope
// libxml2 allocates from a block of its own instead: a bump pointer, frees that only count,
// and a block reused from its start once nothing in it is alive. Outside a scope (schemas,
// writing) and for large requests it uses the process heap as before.
//
// Under AddressSanitizer the hooks stay off, so that libxml2's own memory keeps being checked.
#include <sys/mman.h>

#include <libxml/globals.h>
#include <libxml/xmlmemory.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "pgm_common_xml_export.h"
#include "pgm_common_xml_internal.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORN_XML_MEMORY_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VORN_XML_MEMORY_OFF 1
#endif

namespace {

// Blocks are aligned to their size, so the block of any pointer in it is found by masking.
constexpr size_t BLOCK_SIZE = size_t{4} << 20;
constexpr uintptr_t BLOCK_MASK = ~static_cast<uintptr_t>(BLOCK_SIZE - 1);
// Larger requests would waste most of a block; they are rare (big text nodes, dictionaries).
constexpr size_t LARGEST = BLOCK_SIZE / 16;
constexpr size_t ALIGN = 16;
// Each allocation is preceded by its size, for realloc.
constexpr size_t HEADER = ALIGN;
constexpr size_t MAX_BLOCKS = 64;

// The owning thread counts its allocations and frees in plain fields; other threads, and
// everyone once the owner has moved on, count in `shared`. While owned, `shared` holds OWNED
// less the frees from other threads, so it cannot reach zero; when the owner moves on it adds
// what it still counts less OWNED, and whoever brings `shared` to zero releases the block
// (kept as the spare, or unmapped).
constexpr long OWNED = long{1} << 40;

struct BLOCK {
    std::atomic<long> shared;
    long owner_live;  // allocations less the owner's own frees
    char* next;
    char* end;
};
constexpr size_t FIRST = (sizeof(BLOCK) + ALIGN - 1) / ALIGN * ALIGN;

// Every block ever mapped and not yet unmapped. free() looks pointers up here: a pointer
// whose masked address is not listed came from the process heap.
std::atomic<uintptr_t> g_blocks[MAX_BLOCKS];
// One released block kept mapped, so that a steady load never maps and unmaps.
std::atomic<BLOCK*> g_spare{nullptr};
bool g_installed = false;

bool is_block(uintptr_t base) {
    for (const auto& slot : g_blocks)
        if (slot.load(std::memory_order_acquire) == base) return true;
    return false;
}

BLOCK* map_block() {
    if (BLOCK* spare = g_spare.exchange(nullptr, std::memory_order_acq_rel)) return spare;
    // Map twice the size and trim to get the alignment.
    void* raw =
        ::mmap(nullptr, 2 * BLOCK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t base = (start + BLOCK_SIZE - 1) & BLOCK_MASK;
    if (base > start) ::munmap(raw, base - start);
    if (base + BLOCK_SIZE < start + 2 * BLOCK_SIZE)
        ::munmap(reinterpret_cast<void*>(base + BLOCK_SIZE), start + BLOCK_SIZE - base);
    for (auto& slot : g_blocks) {
        uintptr_t empty = 0;
        if (slot.compare_exchange_strong(empty, base, std::memory_order_acq_rel))
            return reinterpret_cast<BLOCK*>(base);
    }
    ::munmap(reinterpret_cast<void*>(base), BLOCK_SIZE);
    return nullptr;
}

// Called by whoever drops the last reference to a block.
void release_block(BLOCK* block) {
    BLOCK* empty = nullptr;
    if (g_spare.compare_exchange_strong(empty, block, std::memory_order_acq_rel)) return;
    const uintptr_t base = reinterpret_cast<uintptr_t>(block);
    for (auto& slot : g_blocks) {
        uintptr_t expected = base;
        if (slot.compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) break;
    }
    ::munmap(block, BLOCK_SIZE);
}

// A free by a thread that does not own the block, or of a block its owner left.
void unref(BLOCK* block) {
    if (block->shared.fetch_sub(1, std::memory_order_acq_rel) == 1) release_block(block);
}

// The owner leaves the block to the frees still to come.
void leave(BLOCK* block) {
    const long still = block->owner_live - OWNED;
    if (block->shared.fetch_add(still, std::memory_order_acq_rel) + still == 0)
        release_block(block);
}

// The calling thread's blocks and scope depths. Plain data, so that reading it costs no call.
// Elements have a block of their own: a tree outlives the parser's scratch memory it is built
// beside, and kept together it is read and freed at cache speed.
struct THREAD_STATE {
    BLOCK* block;
    BLOCK* element_block;
    int depth;
    int element_depth;
};
thread_local THREAD_STATE t_state
    __attribute__((tls_model("initial-exec"))) = {nullptr, nullptr, 0, 0};

// Gives up the thread's block when the thread ends; set up with the thread's first block.
struct THREAD_END {
    ~THREAD_END() {
        for (BLOCK** slot : {&t_state.block, &t_state.element_block}) {
            if (*slot != nullptr) leave(*slot);
            *slot = nullptr;
        }
    }
};

__attribute__((noinline)) BLOCK* next_block(BLOCK*& slot) {
    BLOCK* block = slot;
    BLOCK* fresh = map_block();
    if (fresh == nullptr) return nullptr;
    fresh->shared.store(OWNED, std::memory_order_relaxed);
    fresh->owner_live = 0;
    fresh->next = reinterpret_cast<char*>(fresh) + FIRST;
    fresh->end = reinterpret_cast<char*>(fresh) + BLOCK_SIZE;
    if (block != nullptr) {
        leave(block);
    } else {
        thread_local THREAD_END end;
        (void)end;
    }
    slot = fresh;
    return fresh;
}

void* from_block(size_t size, BLOCK*& slot) {
    const size_t need = HEADER + (size + ALIGN - 1) / ALIGN * ALIGN;
    BLOCK* block = slot;
    if (block != nullptr &&
        block->owner_live == OWNED - block->shared.load(std::memory_order_acquire)) {
        // Nothing in it is alive: start again from the top, which is still in cache.
        block->next = reinterpret_cast<char*>(block) + FIRST;
        block->owner_live = 0;
        block->shared.store(OWNED, std::memory_order_relaxed);
    }
    if (block == nullptr || static_cast<size_t>(block->end - block->next) < need) {
        block = next_block(slot);
        if (block == nullptr) return nullptr;
    }
    char* p = block->next;
    block->next += need;
    ++block->owner_live;
    *reinterpret_cast<size_t*>(p) = size;
    return p + HEADER;
}

// Counts a free of an allocation of `block`.
void give_back(BLOCK* block) {
    if (block == t_state.block || block == t_state.element_block)
        --block->owner_live;
    else
        unref(block);
}

BLOCK* block_of(void* p) {
    const uintptr_t base = reinterpret_cast<uintptr_t>(p) & BLOCK_MASK;
    // Most frees are of the document this thread is reading.
    if (base == reinterpret_cast<uintptr_t>(t_state.block)) return t_state.block;
    if (base == reinterpret_cast<uintptr_t>(t_state.element_block)) return t_state.element_block;
    return is_block(base) ? reinterpret_cast<BLOCK*>(base) : nullptr;
}

extern "C" void* xml_malloc(size_t size) {
    if (t_state.depth > 0 && size <= LARGEST)
        if (void* p = from_block(size, t_state.block)) return p;
    return std::malloc(size);
}

extern "C" void xml_free(void* p) {
    if (p == nullptr) return;
    if (BLOCK* block = block_of(p))
        give_back(block);
    else
        std::free(p);
}

extern "C" void* xml_realloc(void* p, size_t size) {
    if (p == nullptr) return xml_malloc(size);
    BLOCK* block = block_of(p);
    if (block == nullptr) return std::realloc(p, size);
    const size_t old = *reinterpret_cast<size_t*>(static_cast<char*>(p) - HEADER);
    void* q = xml_malloc(size);
    if (q == nullptr) return nullptr;
    std::memcpy(q, p, old < size ? old : size);
    give_back(block);
    return q;
}

extern "C" char* xml_strdup(const char* s) {
    const size_t size = std::strlen(s) + 1;
    auto* copy = static_cast<char*>(xml_malloc(size));
    if (copy != nullptr) std::memcpy(copy, s, size);
    return copy;
}

}  // namespace

namespace pgm_common_xml_detail {

void install_document_memory() {
#ifndef VORN_XML_MEMORY_OFF
    xmlFreeFunc free_fn = nullptr;
    xmlMallocFunc malloc_fn = nullptr;
    xmlReallocFunc realloc_fn = nullptr;
    xmlStrdupFunc strdup_fn = nullptr;
    // Someone else's hooks are left alone.
    if (xmlMemGet(&free_fn, &malloc_fn, &realloc_fn, &strdup_fn) != 0 || free_fn != std::free ||
        malloc_fn != std::malloc || realloc_fn != std::realloc)
        return;
    g_installed = xmlMemSetup(xml_free, xml_malloc, xml_realloc, xml_strdup) == 0;
#endif
}

DOCUMENT_MEMORY_SCOPE::DOCUMENT_MEMORY_SCOPE(bool elements)
    : m_on(g_installed), m_elements(elements && g_installed) {
    if (m_on) ++t_state.depth;
    if (m_elements) ++t_state.element_depth;
}

DOCUMENT_MEMORY_SCOPE::~DOCUMENT_MEMORY_SCOPE() {
    if (m_on) --t_state.depth;
    if (m_elements) --t_state.element_depth;
}

ORDINARY_MEMORY_SCOPE::ORDINARY_MEMORY_SCOPE()
    : m_depth(t_state.depth), m_element_depth(t_state.element_depth) {
    t_state.depth = 0;
    t_state.element_depth = 0;
}

ORDINARY_MEMORY_SCOPE::~ORDINARY_MEMORY_SCOPE() {
    t_state.depth = m_depth;
    t_state.element_depth = m_element_depth;
}

size_t mapped_document_blocks() {
    size_t count = 0;
    for (const auto& slot : g_blocks)
        if (slot.load(std::memory_order_acquire) != 0) ++count;
    return count;
}

}  // namespace pgm_common_xml_detail

// ---- elements --------------------------------------------------------------------------------

void* PGM_COMMON_XML_ELEMENT::operator new(std::size_t size) {
    if (t_state.element_depth > 0)
        if (void* p = from_block(size, t_state.element_block)) return p;
    return ::operator new(size);
}

void PGM_COMMON_XML_ELEMENT::operator delete(void* p) noexcept {
    if (p == nullptr) return;
    if (BLOCK* block = block_of(p))
        give_back(block);
    else
        ::operator delete(p);
}

void* pgm_common_xml_list_allocate(std::size_t bytes) {
    if (t_state.element_depth > 0 && bytes <= LARGEST)
        if (void* p = from_block(bytes, t_state.element_block)) return p;
    return ::operator new(bytes);
}

void pgm_common_xml_list_release(void* p) noexcept { PGM_COMMON_XML_ELEMENT::operator delete(p); }

void* PGM_COMMON_XML_ELEMENT::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void PGM_COMMON_XML_ELEMENT::operator delete(void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}
