#include "kv_pendingstreams.h"

#include <map>

namespace kvpending {
namespace {

struct Entry {
    std::unique_ptr<TMemoryStream> copy;
    const void* owner;
};

std::map<unsigned, Entry>& Table()
{
    static std::map<unsigned, Entry> table;
    return table;
}

unsigned g_next = 1;

}  // namespace

unsigned Add(std::unique_ptr<TMemoryStream> Copy, const void* Owner)
{
    auto& table = Table();
    // Identifiers are handed out in turn, skipping 0 and any still pending.
    while (g_next == 0 || table.count(g_next))
        ++g_next;
    const unsigned id = g_next++;
    table.emplace(id, Entry{std::move(Copy), Owner});
    return id;
}

std::unique_ptr<TMemoryStream> Take(unsigned Id)
{
    auto& table = Table();
    auto it = table.find(Id);
    if (it == table.end())
        return nullptr;
    std::unique_ptr<TMemoryStream> copy = std::move(it->second.copy);
    table.erase(it);
    return copy;
}

bool Contains(unsigned Id)
{
    return Table().count(Id) != 0;
}

void DropOwnedBy(const void* Owner)
{
    auto& table = Table();
    for (auto it = table.begin(); it != table.end();)
        it = it->second.owner == Owner ? table.erase(it) : std::next(it);
}

void Clear()
{
    Table().clear();
}

int Count()
{
    return static_cast<int>(Table().size());
}

}  // namespace kvpending
