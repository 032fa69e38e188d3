// Feeds arbitrary bytes to the stored-file record reader: it must either
// read a record or raise EReadError, never read or allocate beyond the data.
#include <cstddef>
#include <cstdint>

#include "kv_flashstore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TkvFlashList store(nullptr);
    TkvFlashStream* item = store.Flashs()->Add();
    TMemoryStream s;
    s.WriteBuffer(data, static_cast<std::int64_t>(size));
    s.SetPosition(0);
    try {
        item->ReadData(s);
        TMemoryStream out;
        item->WriteData(out);
    } catch (const EReadError&) {
    }
    return 0;
}
