// The registry's index of blocks by name and its store of names: a hash of names eight bytes
// at a step, an open-addressing table of blocks, and names copied into large chunks.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>

#include "registry/registry_index.h"

namespace drelk {

using detail::NameStore;

namespace {

// Name chunks start small (most runs hold few names) and double up to the largest size.
constexpr size_t kFirstNameChunkSize = 1024;
constexpr size_t kNameChunkSize = 64 * 1024;

}  // namespace

// The key of the run's hashes, chosen when the run first hashes: names and member lists come
// from the files, and a hash that an input could solve for would put thousands of them in
// one slot, each compared with all the others.
static uint64_t hash_key() {
  static const uint64_t key = [] {
    uint64_t chosen =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    chosen ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&chosen)) << 16;
    try {
      std::random_device device;
      chosen ^= (uint64_t{device()} << 32) | device();
    } catch (...) {
      // The clock and the place of the stack serve alone.
    }
    return chosen;
  }();
  return key;
}

uint64_t detail::hash_step(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0xBF58476D1CE4E5B9ULL;
  return hash ^ (hash >> 31);
}

uint64_t detail::hash_name(std::string_view name) {
  // Words of eight bytes, the last one ending with the name's last byte (overlapping the
  // one before it); a name shorter than eight bytes is read as two overlapping halves.
  const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
  const size_t size = name.size();
  const auto load64 = [](const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  };
  const auto load32 = [](const unsigned char* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return uint64_t{word};
  };
  const auto mix = detail::hash_step;
  uint64_t hash = hash_key() ^ size;
  if (size >= 8) {
    for (size_t at = 0; at + 8 < size; at += 8) hash = mix(hash, load64(bytes + at));
    hash = mix(hash, load64(bytes + size - 8));
  } else if (size >= 4) {
    hash = mix(hash, load32(bytes) | (load32(bytes + size - 4) << 32));
  } else if (size > 0) {
    hash =
        mix(hash, bytes[0] | (uint64_t{bytes[size / 2]} << 8) | (uint64_t{bytes[size - 1]} << 16));
  }
  // Every bit of the hash decides its low bits, which pick the table slot.
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDULL;
  return hash ^ (hash >> 33);
}

CommonBlock* detail::BlockTable::find(std::string_view name, uint64_t hash) const {
  if (slots_.empty()) return nullptr;
  const size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.block == nullptr) return nullptr;
    if (slot.hash == hash && slot.block->name == name) return slot.block;
  }
}

void detail::BlockTable::insert(CommonBlock* block, uint64_t hash) {
  if (2 * (count_ + 1) > slots_.size()) {
    std::vector<Slot> grown(std::max<size_t>(64, 2 * slots_.size()));
    const size_t mask = grown.size() - 1;
    for (const Slot& slot : slots_) {
      if (slot.block == nullptr) continue;
      size_t at = slot.hash & mask;
      while (grown[at].block != nullptr) at = (at + 1) & mask;
      grown[at] = slot;
    }
    slots_.swap(grown);
  }
  const size_t mask = slots_.size() - 1;
  size_t at = hash & mask;
  while (slots_[at].block != nullptr) at = (at + 1) & mask;
  slots_[at] = Slot{hash, block};
  ++count_;
}

std::string_view NameStore::store(std::string_view name) {
  if (chunks_.empty() || name.size() > capacity_ - used_) {
    const size_t next =
        chunks_.empty() ? kFirstNameChunkSize : std::min(kNameChunkSize, 2 * capacity_);
    const size_t size = std::max(next, name.size());
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    used_ = 0;
    capacity_ = size;
  }
  char* place = chunks_.back().get() + used_;
  if (!name.empty()) std::memcpy(place, name.data(), name.size());
  used_ += name.size();
  return std::string_view(place, name.size());
}

}  // namespace drelk
