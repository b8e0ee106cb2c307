// Buffers of many megabytes that are filled right after they are made.
#pragma once

#include <cstddef>

#include "utilities/Export.h"

// Asks the kernel to back the whole 2 MiB pages inside [data, data + size) with huge pages, where
// it can. Fresh memory is faulted in at first touch, 4 KiB at a time; for buffers of megabytes,
// and on virtual machines most of all, that costs more than filling them. Small buffers and
// platforms without the advice are left alone; the advice never fails visibly.
UTILITIES_API void AdviseLargeBuffer(void* data, std::size_t size) noexcept;

// Reserves room for size elements in container and advises its storage as above.
template <class Container>
void ReserveLargeBuffer(Container& container, std::size_t size) {
    container.reserve(size);
    AdviseLargeBuffer(container.data(), size * sizeof(*container.data()));
}
