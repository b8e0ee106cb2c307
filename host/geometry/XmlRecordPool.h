// XmlRecordPool: the memory that elements made by NewXmlElem, and the lists of every element,
// are taken from.
#pragma once

#include <cstddef>

namespace xml_records {

// Records of up to this many bytes come from the pool; Allocate refuses larger ones.
constexpr std::size_t kMaxRecord = 1024;

// A record of size bytes (at most kMaxRecord), aligned for any object. Each thread takes records
// in order from a block of its own, without a lock; a block goes back to the system once every
// record taken from it has been freed and its thread has moved on to another block (or ended).
// Throws std::bad_alloc when no block can be had.
void* Allocate(std::size_t size);

// Gives back a record from Allocate, on any thread. Null is ignored.
void Free(void* record, std::size_t size) noexcept;

}  // namespace xml_records
