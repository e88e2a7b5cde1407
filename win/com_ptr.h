// A move-only owner of one COM interface pointer.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace win {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Reset();
            m_ptr = std::exchange(other.m_ptr, nullptr);
        }
        return *this;
    }

    T* Get() const noexcept { return m_ptr; }
    T* operator->() const noexcept { return m_ptr; }
    explicit operator bool() const noexcept { return m_ptr != nullptr; }

    // Releases the interface (if any) and returns the address to fill, for
    // CoCreateInstance-style out parameters: CoCreateInstance(..., p.PutVoid()).
    T** Put() noexcept {
        Reset();
        return &m_ptr;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

    void Reset() noexcept {
        if (T* p = std::exchange(m_ptr, nullptr)) p->Release();
    }

    // QueryInterface for U; returns its HRESULT. `out` is empty on failure.
    template <class U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        if (!m_ptr) {
            out.Reset();
            return E_POINTER;
        }
        return m_ptr->QueryInterface(__uuidof(U), out.PutVoid());
    }
    // The same with the interface id given, for interfaces that mingw's
    // headers declare without a uuid (no __uuidof).
    template <class U>
    HRESULT As(REFIID iid, ComPtr<U>& out) const noexcept {
        if (!m_ptr) {
            out.Reset();
            return E_POINTER;
        }
        return m_ptr->QueryInterface(iid, out.PutVoid());
    }

private:
    T* m_ptr = nullptr;
};

}  // namespace win
