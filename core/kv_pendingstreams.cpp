#include "kv_pendingstreams.h"

#include <map>

namespace kvpending {
namespace {

struct Entry {
    std::shared_ptr<TMemoryStream> copy;
    const void* owner;
};

std::map<unsigned, Entry>& Table()
{
    static std::map<unsigned, Entry> table;
    return table;
}

unsigned g_next = 1;

// Reads a registered copy without copying it again. The copy is never
// written once registered, so its memory stays where it is.
class TPendingView final : public TCustomMemoryStream {
public:
    explicit TPendingView(std::shared_ptr<TMemoryStream> copy) : copy_(std::move(copy))
    {
        SetPointer(copy_->Memory(), copy_->Size());
    }

private:
    std::shared_ptr<TMemoryStream> copy_;
};

}  // namespace

unsigned Add(std::unique_ptr<TMemoryStream> Copy, const void* Owner)
{
    auto& table = Table();
    // Identifiers are handed out in turn, skipping 0 and any still pending.
    while (g_next == 0 || table.count(g_next))
        ++g_next;
    const unsigned id = g_next++;
    table.emplace(id, Entry{std::shared_ptr<TMemoryStream>(std::move(Copy)), Owner});
    return id;
}

std::unique_ptr<TStream> Open(unsigned Id)
{
    auto& table = Table();
    auto it = table.find(Id);
    if (it == table.end() || !it->second.copy)
        return nullptr;
    return std::make_unique<TPendingView>(it->second.copy);
}

void Remove(unsigned Id)
{
    Table().erase(Id);
}

bool Contains(unsigned Id)
{
    return Table().count(Id) != 0;
}

void DropOwnedBy(const void* Owner, unsigned Keep)
{
    auto& table = Table();
    for (auto it = table.begin(); it != table.end();)
        it = it->second.owner == Owner && it->first != Keep ? table.erase(it) : std::next(it);
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
