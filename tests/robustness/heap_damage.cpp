// Damages the heap on purpose, one way per run, so the tests can show that
// the checks the re-entry matrix relies on see each kind of damage:
//   heap_damage clean             no damage: no check may fire
//   heap_damage overrun           writes past the end of a live system heap block
//   heap_damage crt-overrun       writes past the end of a live C heap block
//   heap_damage double-free       gives a system heap block back twice
//   heap_damage new-overrun       writes past the end of an operator new block
//   heap_damage write-after-free  writes into a freed operator new block
//   heap_damage read-after-free   follows a pointer kept in a freed object
// Each damage is followed by what the matrix does after every case
// (CheckHeaps). Wine's heap checks (WINEDEBUG=warn+heap) name the system heap
// damage; the poisoning allocator linked in, as in the matrix, stops on the
// rest.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "poisoned_heap.h"

namespace {

struct Node {
    Node* next = nullptr;
    int value = 7;
};

// Writes the compiler cannot prove dead, even into memory it knows is freed.
void Poke(void* at, unsigned char byte, std::size_t n)
{
    auto* p = static_cast<volatile unsigned char*>(at);
    for (std::size_t i = 0; i < n; ++i)
        p[i] = byte;
}

int Run(std::string_view how)
{
    HANDLE heap = GetProcessHeap();
    if (how == "clean") {
        void* block = HeapAlloc(heap, 0, 24);
        Poke(block, 1, 24);
        void* c = std::malloc(40);
        Poke(c, 2, 40);
        Node* volatile node = new Node();
        Poke(node, 3, sizeof(Node));
        delete node;
        CheckHeaps();
        HeapFree(heap, 0, block);
        std::free(c);
    } else if (how == "overrun") {
        void* block = HeapAlloc(heap, 0, 24);
        Poke(block, 0x55, 24 + 8);
        CheckHeaps();
        HeapFree(heap, 0, block);
    } else if (how == "crt-overrun") {
        void* c = std::malloc(40);
        Poke(c, 0x55, 40 + 8);
        CheckHeaps();
        std::free(c);
    } else if (how == "double-free") {
        void* block = HeapAlloc(heap, 0, 48);
        HeapFree(heap, 0, block);
        HeapFree(heap, 0, block);
        CheckHeaps();
    } else if (how == "new-overrun") {
        Node* volatile node = new Node();
        Poke(node, 0x55, sizeof(Node) + 4);
        delete node;
    } else if (how == "write-after-free") {
        Node* volatile node = new Node();
        delete node;
        Poke(&node->value, 1, sizeof(int));
        CheckHeaps();
    } else if (how == "read-after-free") {
        Node* volatile node = new Node();
        node->next = new Node();
        delete node->next;
        delete node;
        // The freed object's pointer now reads as the poison pattern, an
        // address that faults.
        std::printf("value %d\n", node->next->value);
    } else {
        std::fprintf(stderr, "heap_damage: unknown damage \"%.*s\"\n", static_cast<int>(how.size()), how.data());
        return 2;
    }
    std::printf("heap_damage %.*s: done\n", static_cast<int>(how.size()), how.data());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: heap_damage clean|overrun|crt-overrun|double-free|new-overrun|"
                             "write-after-free|read-after-free\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return Run(argv[1]);
}
