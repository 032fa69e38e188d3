// In-memory movies waiting to be requested by the player: LoadMovieFromStream
// copies the application's stream, names the copy by an 8-digit identifier in
// a pseudo-URL, and the player asks for that URL back, as often as it likes
// (after a reload, or a video seek). A copy lives until its driver goes or
// the driver's next load replaces it. Both back-ends use this registry. An
// identifier that names no pending copy resolves to nothing; it is never read
// as an address. Platform-free.
#pragma once

#include <memory>

#include "framework/streams.h"

namespace kvpending {

// Registers a copy for `owner` (the driver that made it) and answers its identifier.
unsigned Add(std::unique_ptr<TMemoryStream> Copy, const void* Owner);
// A read-only stream over the copy, positioned at 0, or nullptr when no copy
// has that identifier. The copy stays registered; the stream keeps the bytes
// alive even when the copy is dropped while the player still reads.
std::unique_ptr<TStream> Open(unsigned Id);
// Forgets one copy (a load that failed before the player could ask).
void Remove(unsigned Id);
bool Contains(unsigned Id);
// Drops the copies a driver made, but the one identified by Keep (0: none).
void DropOwnedBy(const void* Owner, unsigned Keep = 0);
// Drops everything (package stop).
void Clear();
int Count();

}  // namespace kvpending
