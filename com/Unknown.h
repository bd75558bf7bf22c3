// The base interfaces of the component runtime: IUnknown and IClassFactory.
//
// An interface is a struct of pure virtual functions that names its identity
// in a static member `kIID`; interface pointers cross module boundaries, so
// interfaces never change once published. Destructors are protected: objects
// go away through Release, never through delete on an interface.
#pragma once

#include "com/Guid.h"
#include "com/HResult.h"

struct IUnknown {
  static constexpr IID kIID = com::MakeGuid("{00000000-0000-0000-C000-000000000046}");

  // S_OK with an added reference in *ppvObject, or E_NOINTERFACE with null.
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  // Return the new reference count (for diagnostics only).
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// Creates the objects of one class; handed out by a server's DllGetClassObject.
struct IClassFactory : IUnknown {
  static constexpr IID kIID = com::MakeGuid("{00000001-0000-0000-C000-000000000046}");

  // Aggregation is not supported: a non-null pUnkOuter gives CLASS_E_NOAGGREGATION.
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
  // Holds (TRUE) or lets go (FALSE) the server module in memory.
  virtual HRESULT LockServer(BOOL fLock) = 0;

 protected:
  ~IClassFactory() = default;
};

inline constexpr const IID& IID_IUnknown = IUnknown::kIID;
inline constexpr const IID& IID_IClassFactory = IClassFactory::kIID;
