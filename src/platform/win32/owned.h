// One owner for every kind of Win32 handle: a small move-only wrapper that
// releases what it holds with the function its kind demands, on every path.
// A kind is a struct that names the handle's type, its release and (when a
// null handle is not the only empty one) which values hold nothing, as the
// kinds below do. The kinds of this header need <windows.h> only; a facility
// whose header cannot share a translation unit with another (winhttp.h and
// wininet.h) declares its kind beside its calls.
#pragma once

#include <windows.h>

#include <utility>

namespace platform {

template <typename Kind>
class Owned {
 public:
  using Type = typename Kind::Type;

  Owned() = default;
  explicit Owned(Type handle) : handle_(handle) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : handle_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Type get() const { return handle_; }
  // For a handle that is a pointer to a structure.
  Type operator->() const { return handle_; }
  explicit operator bool() const { return holds(handle_); }
  // Gives the handle up without releasing it.
  Type release() { return std::exchange(handle_, Type()); }
  void reset(Type handle = Type()) {
    const Type old = std::exchange(handle_, handle);
    if (holds(old)) Kind::release(old);
  }
  // For an API that writes the handle into an argument: releases what is
  // held and gives the place to write to.
  Type* receive() {
    reset();
    return &handle_;
  }

 private:
  static bool holds(Type handle) {
    if constexpr (HasEmpty<Kind>::value) {
      return handle != Type() && !Kind::isEmpty(handle);
    } else {
      return handle != Type();
    }
  }
  template <typename K, typename = void>
  struct HasEmpty : std::false_type {};
  template <typename K>
  struct HasEmpty<K, std::void_t<decltype(K::isEmpty(Type()))>>
      : std::true_type {};

  Type handle_ = Type();
};

// A kernel object (file, process, thread, token): CreateFileW's failure is
// INVALID_HANDLE_VALUE, the others' null.
struct KernelHandleKind {
  using Type = HANDLE;
  static void release(HANDLE handle) { CloseHandle(handle); }
  static bool isEmpty(HANDLE handle) { return handle == INVALID_HANDLE_VALUE; }
};
using OwnedHandle = Owned<KernelHandleKind>;

// A FindFirstFileW search.
struct FindHandleKind {
  using Type = HANDLE;
  static void release(HANDLE search) { FindClose(search); }
  static bool isEmpty(HANDLE search) { return search == INVALID_HANDLE_VALUE; }
};

// Memory that an API allocated with LocalAlloc for its caller
// (FormatMessageW, CommandLineToArgvW, security descriptors and ACLs).
struct LocalMemoryKind {
  using Type = HLOCAL;
  static void release(HLOCAL memory) { LocalFree(memory); }
};
using OwnedLocal = Owned<LocalMemoryKind>;

// Memory that an API allocated with GlobalAlloc for its caller.
struct GlobalMemoryKind {
  using Type = HGLOBAL;
  static void release(HGLOBAL memory) { GlobalFree(memory); }
};

// Memory that an API allocated with CoTaskMemAlloc for its caller
// (SHGetKnownFolderPath, which asks for its release on failure too).
struct TaskMemoryKind {
  using Type = PWSTR;
  static void release(PWSTR memory) { CoTaskMemFree(memory); }
};

// A certificate store, certificate and chain of CryptoAPI.
struct CertStoreKind {
  using Type = HCERTSTORE;
  static void release(HCERTSTORE store) { CertCloseStore(store, 0); }
};
struct CertContextKind {
  using Type = PCCERT_CONTEXT;
  static void release(PCCERT_CONTEXT certificate) {
    CertFreeCertificateContext(certificate);
  }
};
struct CertChainKind {
  using Type = PCCERT_CHAIN_CONTEXT;
  static void release(PCCERT_CHAIN_CONTEXT chain) {
    CertFreeCertificateChain(chain);
  }
};

// A library loaded with LoadLibraryW.
struct LibraryKind {
  using Type = HMODULE;
  static void release(HMODULE module) { FreeLibrary(module); }
};

}  // namespace platform
