// The core is written against C-shaped Win32 contracts: no exception may
// reach it. The procedures that build strings or lists run their body
// through this, and an exception (in practice std::bad_alloc) becomes the
// procedure's failure value.
#pragma once

template <typename Result, typename Body> Result WithoutExceptions(Result failure, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return failure;
    }
}
