// In-memory movies waiting to be requested by the player: LoadMovieFromStream
// copies the application's stream, names the copy by an 8-digit identifier in
// a pseudo-URL, and the player asks for that URL back. Both back-ends use this
// registry. An identifier that names no pending copy resolves to nothing; it
// is never read as an address. Platform-free.
#pragma once

#include <memory>

#include "framework/streams.h"

namespace kvpending {

// Registers a copy for `owner` (the driver that made it) and answers its identifier.
unsigned Add(std::unique_ptr<TMemoryStream> Copy, const void* Owner);
// Removes and answers the copy, or nullptr when no copy has that identifier.
std::unique_ptr<TMemoryStream> Take(unsigned Id);
bool Contains(unsigned Id);
// Drops the copies a driver made that its player never asked for.
void DropOwnedBy(const void* Owner);
// Drops everything (package stop).
void Clear();
int Count();

}  // namespace kvpending
