// The test programs' poisoning allocator (poisoned_heap.cpp replaces
// operator new and delete in any program it is linked into).
#pragma once

// Checks every block the allocator holds back and walks the system's heaps;
// on any damage it says what it found and stops the program.
void CheckHeaps();
