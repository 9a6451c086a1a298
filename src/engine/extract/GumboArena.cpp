#include "engine/extract/GumboArena.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {
constexpr std::size_t Align = alignof(std::max_align_t);
// Before each block: its size class, in a header as wide as the alignment.
constexpr std::size_t Header = Align;
constexpr std::size_t LargeClass = SIZE_MAX;
// Every chunk alike, under the C library's threshold for a mapping of its
// own, so that a chunk given back is one the next document reuses.
constexpr std::size_t ChunkSize = 64 * 1024;

int classOf(std::size_t size)
{
    if (size <= 512)
        return size == 0 ? 0 : int((size - 1) / 16);
    int power = 10;  // 1 KiB
    while ((std::size_t(1) << power) < size)
        ++power;
    return 32 + power - 10;
}

std::size_t sizeOfClass(int sizeClass)
{
    return sizeClass < 32 ? std::size_t(sizeClass + 1) * 16 : std::size_t(1) << (sizeClass - 32 + 10);
}

std::size_t& classBefore(void* pointer)
{
    return *reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - sizeof(std::size_t));
}

void* orAbort(void* memory)
{
    if (!memory)
        std::abort();  // as operator new would, and gumbo checks nothing
    return memory;
}
}  // namespace

struct alignas(std::max_align_t) GumboArena::Chunk {
    Chunk* next;
};

namespace {
// Chunks of parses done, kept for the next parse on the thread up to a
// megabyte: memory the C library gives back to the system has to be
// faulted in again page by page, which cost more than the allocations.
struct Spares {
    GumboArena::Chunk* first = nullptr;
    int count = 0;
    static constexpr int Most = 16;
    ~Spares()
    {
        while (first) {
            GumboArena::Chunk* chunk = first;
            first = *reinterpret_cast<GumboArena::Chunk**>(chunk);
            std::free(chunk);
        }
    }
};
thread_local Spares spares;
}  // namespace

// Linked both ways: a large block freed leaves the list at once.
struct alignas(std::max_align_t) GumboArena::Large {
    Large* previous;
    Large* next;
    std::size_t size;
};

GumboArena::~GumboArena()
{
    while (chunks) {
        Chunk* chunk = chunks;
        chunks = chunk->next;
        if (spares.count < Spares::Most) {
            chunk->next = spares.first;
            spares.first = chunk;
            ++spares.count;
        } else {
            std::free(chunk);
        }
    }
    while (larges) {
        Large* large = larges;
        larges = large->next;
        std::free(large);
    }
}

void GumboArena::taken(std::size_t bytes)
{
    held += bytes;
    mostHeld = std::max(mostHeld, held);
}

void* GumboArena::allocate(std::size_t size)
{
    if (size > LargestSmall) {
        const std::size_t bytes = sizeof(Large) + Header + size;
        auto* large = static_cast<Large*>(orAbort(std::malloc(bytes)));
        *large = {nullptr, larges, bytes};
        if (larges)
            larges->previous = large;
        larges = large;
        taken(bytes);
        char* block = reinterpret_cast<char*>(large + 1) + Header;
        classBefore(block) = LargeClass;
        return block;
    }
    const int sizeClass = classOf(size);
    if (FreeBlock* block = freed[sizeClass]) {
        freed[sizeClass] = block->next;
        return block;
    }
    const std::size_t bytes = Header + sizeOfClass(sizeClass);
    if (std::size_t(limit - cursor) < bytes)
        cursor = static_cast<char*>(newChunk());
    char* block = cursor + Header;
    cursor += bytes;
    classBefore(block) = std::size_t(sizeClass);
    return block;
}

void* GumboArena::newChunk()
{
    Chunk* chunk = spares.first;
    if (chunk) {
        spares.first = chunk->next;
        --spares.count;
    } else {
        chunk = static_cast<Chunk*>(orAbort(std::malloc(ChunkSize)));
    }
    chunk->next = chunks;
    chunks = chunk;
    taken(ChunkSize);
    limit = reinterpret_cast<char*>(chunk) + ChunkSize;
    return chunk + 1;
}

void GumboArena::deallocate(void* pointer)
{
    if (!pointer)
        return;
    const std::size_t sizeClass = classBefore(pointer);
    if (sizeClass != LargeClass) {
        auto* block = static_cast<FreeBlock*>(pointer);
        block->next = freed[sizeClass];
        freed[sizeClass] = block;
        return;
    }
    auto* large = reinterpret_cast<Large*>(static_cast<char*>(pointer) - Header) - 1;
    (large->previous ? large->previous->next : larges) = large->next;
    if (large->next)
        large->next->previous = large->previous;
    held -= large->size;
    std::free(large);
}
