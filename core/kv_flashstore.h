// The movie store: whole files (movies and what they load) kept inside a
// form's stored data, and the process-wide registry that finds them by name.
// Platform-free: builds natively too.
#pragma once

#include <cstdint>

#include "framework/classes.h"
#include "framework/filer.h"
#include "framework/streams.h"

class TkvFlashList;

// One stored file: a name and its bytes.
class TkvFlashStream : public TCollectionItem {
    KV_CLASS(TkvFlashStream, TCollectionItem)
public:
    explicit TkvFlashStream(TCollection* Collection);
    ~TkvFlashStream() override;

    // The item's bytes. Readers start at position 0 and copy before use.
    TMemoryStream* DataStream() const { return data_; }
    // "(empty)" while the item holds no data, else its name.
    WideString GetFlashStore() const;
    // Renames the item and its registry entry.
    void SetFlashStore(const WideString& Value);
    // The name, also while the item holds no data.
    const WideString& Name() const { return name_; }

    // From another stored file: its name and a copy of its bytes.
    void Assign(TPersistent* Source) override;
    WideString GetDisplayName() override { return GetFlashStore(); }

    // The "FlashStream" record (see docs/movie-store.md).
    void ReadData(TStream& Stream);
    void WriteData(TStream& Stream);

protected:
    void DefineProperties(TFiler& Filer) override;

private:
    TMemoryStream* data_;
    WideString name_;
};

class TkvFlashCollection : public TCollection {
    KV_CLASS(TkvFlashCollection, TCollection)
public:
    explicit TkvFlashCollection(TkvFlashList* Owner);
    TkvFlashStream* Add() { return static_cast<TkvFlashStream*>(TCollection::Add()); }
    TkvFlashStream* GetItem(int Index) const { return static_cast<TkvFlashStream*>(Items(Index)); }
    void SetItem(int Index, TkvFlashStream* Value) { TCollection::SetItem(Index, Value); }
};

// The store component.
class TkvFlashList : public TComponent {
    KV_CLASS(TkvFlashList, TComponent)
public:
    explicit TkvFlashList(TComponent* AOwner);
    ~TkvFlashList() override;

    TkvFlashCollection* Flashs() const { return flashs_; }
    // Copies the items of Value into the store's own collection.
    void SetFlashs(TkvFlashCollection* Value);
    // The first item of this store whose GetFlashStore equals Name, ignoring
    // the case of ASCII letters; nullptr when none does.
    TkvFlashStream* FindFlash(const WideString& Name) const;

private:
    TkvFlashCollection* flashs_;
};

// Every item of every store in the process, by name (case-insensitive, in
// registration order; the object is the item). Exists while at least one item
// exists.
extern TStringList* FlashList;

// The registered item for a file name, or nullptr: what the drivers serve in
// place of a file.
TkvFlashStream* FindStoredFile(const WideString& Name);
