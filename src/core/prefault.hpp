// Fresh memory mapped ahead of its first use, a stretch at a time. On a virtual machine
// every page first touched alone is a trap to the kernel and to the host: about 10 µs here,
// the time of reading 500 lines of a list. Mapped together, ahead, a page costs half of that.
// Only memory about to be written is asked for, so the memory used stays what is written,
// give or take one stretch.
#pragma once

#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace maskery {

// How far ahead a writer maps its buffer, given how much of it is mapped: as much again,
// from a page up to 64 KiB, so that a small output or list maps little.
inline constexpr std::size_t kPrefaultStretch = std::size_t{64} << 10;
constexpr std::size_t prefault_stretch(std::size_t mapped) noexcept {
  return mapped < 4096 ? 4096 : mapped > kPrefaultStretch ? kPrefaultStretch : mapped;
}

// Maps the whole pages within [p, p + n) writable now, in one call. Best effort: a kernel
// without the call (before Linux 5.14) maps them as they are touched, as always.
inline void prefault(const void* p, std::size_t n) noexcept {
#ifdef MADV_POPULATE_WRITE
  constexpr std::uintptr_t page = 4096;  // the smallest page of every Linux port
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t b = (at + page - 1) & ~(page - 1);
  const std::uintptr_t e = (at + n) & ~(page - 1);
  if (b < e) (void)::madvise(reinterpret_cast<void*>(b), e - b, MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)n;
#endif
}

// Maps the room of an array being filled, from its end (size elements) on, a stretch at a
// time within its capacity; returns how far, in elements, it is mapped.
template <class T>
std::size_t prefault_room(T* data, std::size_t size, std::size_t cap) noexcept {
  const std::size_t stretch =
      std::max<std::size_t>(1, prefault_stretch(size * sizeof(T)) / sizeof(T));
  const std::size_t n = std::min(cap - size, stretch);
  prefault(data + size, n * sizeof(T));
  return size + n;
}

// The same until at least end (within cap) is mapped, from mapped on: for a buffer written
// in runs of any length. Returns how far, in elements, it is mapped.
template <class T>
std::size_t prefault_to(T* data, std::size_t mapped, std::size_t end, std::size_t cap) noexcept {
  while (mapped < end && mapped < cap) mapped = prefault_room(data, mapped, cap);
  return mapped;
}

// The same for a vector filled by push_back within the room it reserved. mapped keeps how
// far (in elements) it is mapped; call before each push_back.
template <class V>
void map_ahead(const V& v, std::size_t& mapped) noexcept {
  if (v.size() < mapped || v.size() >= v.capacity()) return;
  mapped = prefault_room(v.data(), v.size(), v.capacity());
}

// From here on, blocks of up to 4 MiB are taken from the heap, and memory freed there is
// kept for the next ones rather than given back: where a run makes large arrays one after
// another (grep's set, its sorted copies, their union, its index), each took fresh pages where
// the one before had just been freed. Larger blocks are mapped apart, as they were, so that an
// array that grows past them moves its pages rather than copies them. Not for merge: a sorted
// list's array, grown a step at a time within the heap, left its old room behind (a peak of
// 6.6 MiB rather than 4.7 for 400,000 sorted lines).
inline void keep_freed_memory() noexcept {
#if defined(__GLIBC__)
  (void)mallopt(M_MMAP_THRESHOLD, 4 << 20);
  (void)mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

}  // namespace maskery
