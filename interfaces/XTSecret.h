// The one way this tree forgets a secret (a password, a derived key, a
// connection text holding a password) before its buffer goes back to the
// heap. Header-only, on public Win32 API, so that every library uses it alike.
// An MFC translation unit includes it after afxwin.h, as every header.
#pragma once

#include <windows.h>

#include <string>
#include <type_traits>
#include <vector>

namespace XTSecret
{
// Overwrites the whole capacity with SecureZeroMemory, which the compiler may
// not drop, and empties the container. Growing to the capacity first reaches
// what an earlier, longer content left behind the end, without reallocating.
// For std::wstring, std::string and std::vector<unsigned char>.
template <typename Container>
void Wipe(Container& container)
{
    static_assert(std::is_trivially_copyable<typename Container::value_type>::value,
        "only containers of plain characters or bytes can be wiped");
    container.resize(container.capacity());
    if (!container.empty())
        ::SecureZeroMemory(&container[0], container.size() * sizeof(typename Container::value_type));
    container.clear();
}
} // namespace XTSecret
