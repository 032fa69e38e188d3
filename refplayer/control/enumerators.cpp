// The enumerators of the connection points: snapshots, each holding what it
// hands out.
#include "control_internal.h"

namespace refcontrol {
namespace {

template <typename Interface, typename Item, const IID* Iid>
class Enumerator final : public Interface {
public:
    explicit Enumerator(std::vector<Item> items, ComPtr<IUnknown> owner = {})
        : items_(std::move(items)), owner_(std::move(owner))
    {
        for (auto& i : items_)
            unknownOf(i)->AddRef();
        objectCreated();
    }
    Enumerator(const Enumerator&) = delete;
    Enumerator& operator=(const Enumerator&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, *Iid))
            return E_NOINTERFACE;
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) noexcept override
    {
        if (!out || (count > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        for (; n < count && pos_ < items_.size(); ++n, ++pos_) {
            out[n] = items_[pos_];
            unknownOf(out[n])->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) noexcept override
    {
        size_t left = items_.size() - pos_;
        pos_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() noexcept override
    {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Interface** out) noexcept override
    {
        return guarded([&]() -> HRESULT {
            if (!out)
                return E_POINTER;
            auto copy = new Enumerator(items_, owner_);
            copy->pos_ = pos_;
            *out = copy;
            return S_OK;
        });
    }

private:
    ~Enumerator()
    {
        for (auto& i : items_)
            unknownOf(i)->Release();
        objectDestroyed();
    }
    static IUnknown* unknownOf(IConnectionPoint* p) { return p; }
    static IUnknown* unknownOf(const CONNECTDATA& d) { return d.pUnk; }

    LONG refs_ = 1;
    std::vector<Item> items_;
    ComPtr<IUnknown> owner_;
    size_t pos_ = 0;
};

}  // namespace

HRESULT createConnectionPointEnum(IUnknown* owner, const std::vector<IConnectionPoint*>& points,
                                  IEnumConnectionPoints** out)
{
    *out = new Enumerator<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>(points,
                                                                                                ComPtr<IUnknown>(owner));
    return S_OK;
}

HRESULT createConnectionsEnum(const std::vector<CONNECTDATA>& items, IEnumConnections** out)
{
    *out = new Enumerator<IEnumConnections, CONNECTDATA, &IID_IEnumConnections>(items);
    return S_OK;
}

}  // namespace refcontrol
