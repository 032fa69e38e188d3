// Form streaming: writing a component tree with its published and defined
// properties, and reading it back. The format is described in
// docs/framework.md. Platform-free.
//
// Reading is all or nothing for what it creates: the data is parsed and
// checked completely first (truncation, oversized lengths, unknown value
// types, unknown classes and properties, unresolvable method names); if
// anything fails later (a binary property's reader, a setter), every
// component the read created is freed again, so nothing stays registered.
// Errors are EReadError (EClassNotFound for an unknown class) with a message
// naming the component and property.
#pragma once

#include <functional>
#include <memory>

#include "framework/classes.h"
#include "framework/streams.h"

class TFiler : public TObject {
  KV_CLASS(TFiler, TObject)
public:
  using TStreamProc = std::function<void(TStream&)>;

  explicit TFiler(TStream& Stream) : stream_(&Stream) {}
  TStream& Stream() const { return *stream_; }
  TComponent* Root() const { return root_; }

  // Declares a binary property of the object whose DefineProperties runs.
  // The writer stores what WriteData writes, framed with its length, when
  // HasData is true. The reader hands ReadData a stream holding exactly the
  // stored bytes, so reading past them raises EReadError.
  virtual void DefineBinaryProperty(const WideString& Name, TStreamProc ReadData, TStreamProc WriteData,
                                    bool HasData) = 0;

protected:
  TStream* stream_;
  TComponent* root_ = nullptr;
};

class TWriter : public TFiler {
  KV_CLASS(TWriter, TFiler)
public:
  explicit TWriter(TStream& Stream);
  ~TWriter() override;
  // Writes the signature, then Root with the tree of components stored under it.
  void WriteRootComponent(TComponent* Root);
  void DefineBinaryProperty(const WideString& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;

  struct Impl;  // internal

private:
  std::unique_ptr<Impl> impl_;
};

class TReader : public TFiler {
  KV_CLASS(TReader, TFiler)
public:
  explicit TReader(TStream& Stream);
  ~TReader() override;
  // Reads a stored tree into Root (whose class must be the stored root's
  // class or a descendant of it). With Root nullptr the root is created from
  // its class name, owned by Owner. Components below the root are created by
  // class name (RegisterClass), owned by the root, placed under their stored
  // parent. Each component is csLoading from its creation (or the start of
  // the read) until its Loaded, and csReading while its properties are read;
  // Loaded runs on all of them, in creation order (the root first), after
  // the whole tree is read and every reference is resolved.
  TComponent* ReadRootComponent(TComponent* Root, TComponent* Owner = nullptr);
  void DefineBinaryProperty(const WideString& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;
  struct Impl;  // internal

private:
  std::unique_ptr<Impl> impl_;
};

// Shorthands over TWriter/TReader.
void WriteComponent(TStream& Stream, TComponent* Root);
TComponent* ReadComponent(TStream& Stream, TComponent* Root = nullptr, TComponent* Owner = nullptr);
