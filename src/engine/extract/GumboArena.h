#pragma once

#include <cstddef>

// The memory of one gumbo parse. Gumbo asks for a block for every node,
// attribute, string and vector, and frees many of them again as buffers
// grow; the C library's allocator took a quarter of the time of reading a
// page. Here small blocks are cut from chunks that grow as the parse does,
// a block freed is kept on a list of its size class for the next block of
// that class (so a parse holds about what it would hold with malloc), and
// everything goes at once with the arena.
class GumboArena {
public:
    GumboArena() = default;
    GumboArena(const GumboArena&) = delete;
    GumboArena& operator=(const GumboArena&) = delete;
    ~GumboArena();

    void* allocate(std::size_t size);
    void deallocate(void* pointer);

    // The most bytes held at once, in chunks and large blocks.
    std::size_t peak() const { return mostHeld; }

    // Blocks larger than this each have their own allocation, freed when
    // freed: gumbo's buffer of a long text grows by doubling.
    static constexpr std::size_t LargestSmall = 32 * 1024;

    struct Chunk;

private:
    struct Large;
    struct FreeBlock {
        FreeBlock* next;
    };
    static constexpr int ClassCount = 32 + 6;  // 16 ... 512 by 16, then 1 KiB ... 32 KiB

    Chunk* chunks = nullptr;
    char* cursor = nullptr;
    char* limit = nullptr;
    Large* larges = nullptr;
    FreeBlock* freed[ClassCount] = {};
    std::size_t held = 0;
    std::size_t mostHeld = 0;

    void* newChunk();
    void taken(std::size_t bytes);
};
