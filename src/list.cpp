// Lists, bilists and listings.
#include "list.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "message.h"

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

mgn_list_item* mgn_add_item_to_head(mgn_list& list, void* object) {
  auto* item = new (std::nothrow) mgn_list_item{object, list};
  if (item == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  list = item;
  return item;
}

mgn_list_item* mgn_add_item_once(mgn_list& list, void* object) {
  return mgn_find_item(list, object) == nullptr ? mgn_add_item_to_head(list, object) : nullptr;
}

mgn_list_item* mgn_add_item_to_tail(mgn_list& list, void* object) {
  auto* item = new (std::nothrow) mgn_list_item{object, nullptr};
  if (item == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  if (list == nullptr) {
    list = item;
  } else {
    mgn_list_item* tail = list;
    while (tail->next != nullptr) tail = tail->next;
    tail->next = item;
  }
  return item;
}

void mgn_link_item_to_head(mgn_list& list, mgn_list_item* item) {
  if (item == nullptr) return;
  mgn_list_item* tail = item;
  while (tail->next != nullptr) tail = tail->next;
  tail->next = list;
  list = item;
}

void mgn_link_item_to_tail(mgn_list& list, mgn_list_item* item) {
  if (item == nullptr) return;
  if (list == nullptr) {
    list = item;
    return;
  }
  mgn_list_item* tail = list;
  while (tail->next != nullptr) tail = tail->next;
  tail->next = item;
}

mgn_list_item* mgn_unlink_head_item(mgn_list& list) {
  mgn_list_item* item = list;
  if (item == nullptr) return nullptr;
  list = item->next;
  item->next = nullptr;
  return item;
}

mgn_list_item* mgn_unlink_tail_item(mgn_list& list) {
  if (list == nullptr) return nullptr;
  mgn_list_item** link = &list;
  while ((*link)->next != nullptr) link = &(*link)->next;
  mgn_list_item* item = *link;
  *link = nullptr;
  return item;
}

mgn_list_item* mgn_unlink_item(mgn_list& list, void* object) {
  for (mgn_list_item** link = &list; *link != nullptr; link = &(*link)->next) {
    mgn_list_item* item = *link;
    if (item->object == object) {
      *link = item->next;
      item->next = nullptr;
      return item;
    }
  }
  return nullptr;
}

mgn_list_item* mgn_unlink_given_item(mgn_list& list, mgn_list_item* item) {
  if (item == nullptr) return nullptr;
  for (mgn_list_item** link = &list; *link != nullptr; link = &(*link)->next) {
    if (*link == item) {
      *link = item->next;
      item->next = nullptr;
      return item;
    }
  }
  return nullptr;
}

void* mgn_remove_head_item(mgn_list& list) {
  mgn_list_item* item = mgn_unlink_head_item(list);
  if (item == nullptr) return nullptr;
  void* object = item->object;
  delete item;
  return object;
}

void* mgn_remove_tail_item(mgn_list& list) {
  mgn_list_item* item = mgn_unlink_tail_item(list);
  if (item == nullptr) return nullptr;
  void* object = item->object;
  delete item;
  return object;
}

void* mgn_remove_item(mgn_list& list, void* object) {
  mgn_list_item* item = mgn_unlink_item(list, object);
  if (item == nullptr) return nullptr;
  delete item;
  return object;
}

void mgn_move_item_to_head(mgn_list& list, void* object) {
  mgn_list_item* item = mgn_unlink_item(list, object);
  if (item == nullptr) mgn_manipulation_error("Unexpected end of list", MGN_HERE);
  item->next = list;
  list = item;
}

void mgn_move_item_to_tail(mgn_list& list, void* object) {
  mgn_list_item* item = mgn_unlink_item(list, object);
  if (item == nullptr) mgn_manipulation_error("Unexpected end of list", MGN_HERE);
  mgn_link_item_to_tail(list, item);
}

mgn_list_item* mgn_reverse_list(mgn_list& list) {
  mgn_list_item* reversed = nullptr;
  mgn_list_item* item = list;
  while (item != nullptr) {
    mgn_list_item* next = item->next;
    item->next = reversed;
    reversed = item;
    item = next;
  }
  list = reversed;
  return reversed;
}

mgn_list_item* mgn_get_tail_list(mgn_list list) {
  if (list == nullptr) mgn_manipulation_error("Empty list encountered", MGN_HERE);
  while (list->next != nullptr) list = list->next;
  return list;
}

mgn_list_item* mgn_get_nth_list(mgn_list list, long n) {
  if (n < 1) mgn_manipulation_error("Invalid item", MGN_HERE);
  mgn_list_item* item = list;
  for (long i = 1; item != nullptr && i < n; ++i) item = item->next;
  if (item == nullptr) mgn_manipulation_error("Unexpected end of list", MGN_HERE);
  return item;
}

mgn_list_item* mgn_find_item(mgn_list list, const void* object) {
  for (mgn_list_item* item = list; item != nullptr; item = item->next)
    if (item->object == object) return item;
  return nullptr;
}

mgn_list_item* mgn_replace_item_list(mgn_list list, const void* object, void* new_object) {
  mgn_list_item* item = mgn_find_item(list, object);
  if (item == nullptr) mgn_manipulation_error("Item not found", MGN_HERE);
  item->object = new_object;
  return item;
}

long mgn_count_items(mgn_list list) {
  long count = 0;
  for (mgn_list_item* item = list; item != nullptr; item = item->next) ++count;
  return count;
}

void mgn_destroy_list(mgn_list& list) {
  mgn_list_item* item = list;
  list = nullptr;
  while (item != nullptr) {
    mgn_list_item* next = item->next;
    delete item;
    item = next;
  }
}

void mgn_destroy_list_and_objects(mgn_list& list, void (*free_object)(void*)) {
  mgn_list_item* item = list;
  list = nullptr;
  while (item != nullptr) {
    mgn_list_item* next = item->next;
    if (item->object != nullptr) free_object(item->object);
    delete item;
    item = next;
  }
}

void mgn_apply_to_list(mgn_list list, void (*function)(void*, void*), void* argument) {
  // The next item is read before the call, so the function may remove the
  // item of its object.
  mgn_list_item* item = list;
  while (item != nullptr) {
    mgn_list_item* next = item->next;
    if (item->object != nullptr) function(item->object, argument);
    item = next;
  }
}

// ---------------------------------------------------------------------------
// Bilists
// ---------------------------------------------------------------------------

namespace {

mgn_bilist_item* mgn_new_bilist_item(void* object) {
  auto* item = new (std::nothrow) mgn_bilist_item{object, nullptr, nullptr};
  if (item == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  return item;
}

// The item holding the object: the current item first, else from the head.
mgn_bilist_item* mgn_find_bilist_item(const mgn_bilist& bilist, const void* object) {
  if (bilist.current != nullptr && bilist.current->object == object) return bilist.current;
  for (mgn_bilist_item* item = bilist.head; item != nullptr; item = item->next)
    if (item->object == object) return item;
  return nullptr;
}

}  // namespace

void mgn_add_item_to_bilist_head(mgn_bilist& bilist, void* object) {
  mgn_bilist_item* item = mgn_new_bilist_item(object);
  item->next = bilist.head;
  if (bilist.head != nullptr) bilist.head->prev = item;
  else bilist.tail = item;
  bilist.head = item;
}

void mgn_add_item_to_bilist_tail(mgn_bilist& bilist, void* object) {
  mgn_bilist_item* item = mgn_new_bilist_item(object);
  item->prev = bilist.tail;
  if (bilist.tail != nullptr) bilist.tail->next = item;
  else bilist.head = item;
  bilist.tail = item;
}

void mgn_add_item_to_bilist_current_prev(mgn_bilist& bilist, void* object) {
  mgn_bilist_item* current = bilist.current;
  if (current == nullptr) mgn_manipulation_error("Invalid item", MGN_HERE);
  mgn_bilist_item* item = mgn_new_bilist_item(object);
  item->prev = current->prev;
  item->next = current;
  if (current->prev != nullptr) current->prev->next = item;
  else bilist.head = item;
  current->prev = item;
}

void* mgn_set_bilist_current(mgn_bilist& bilist, const void* object) {
  mgn_bilist_item* item = mgn_find_bilist_item(bilist, object);
  if (item == nullptr) return nullptr;
  bilist.current = item;
  return item->object;
}

void* mgn_get_first_bilist_item(mgn_bilist& bilist) {
  bilist.current = bilist.head;
  return bilist.head ? bilist.head->object : nullptr;
}

void* mgn_get_last_bilist_item(mgn_bilist& bilist) {
  bilist.current = bilist.tail;
  return bilist.tail ? bilist.tail->object : nullptr;
}

void* mgn_get_current_bilist_item(const mgn_bilist& bilist) {
  return bilist.current ? bilist.current->object : nullptr;
}

void* mgn_get_next_bilist_item(mgn_bilist& bilist, const void* object, bool cyclic) {
  mgn_bilist_item* item = mgn_find_bilist_item(bilist, object);
  if (item == nullptr) mgn_manipulation_error("Item not present in list", MGN_HERE);
  mgn_bilist_item* next = item->next;
  if (next == nullptr && cyclic) next = bilist.head;
  if (next == nullptr) {
    bilist.current = item;
    return nullptr;
  }
  bilist.current = next;
  return next->object;
}

void* mgn_get_prev_bilist_item(mgn_bilist& bilist, const void* object, bool cyclic) {
  mgn_bilist_item* item = mgn_find_bilist_item(bilist, object);
  if (item == nullptr) mgn_manipulation_error("Item not present in list", MGN_HERE);
  mgn_bilist_item* prev = item->prev;
  if (prev == nullptr && cyclic) prev = bilist.tail;
  if (prev == nullptr) {
    bilist.current = item;
    return nullptr;
  }
  bilist.current = prev;
  return prev->object;
}

void mgn_destroy_bilist(mgn_bilist& bilist) {
  mgn_bilist_item* item = bilist.head;
  bilist = mgn_bilist{};
  while (item != nullptr) {
    mgn_bilist_item* next = item->next;
    delete item;
    item = next;
  }
}

void mgn_destroy_bilist_and_objects(mgn_bilist& bilist, void (*free_object)(void*)) {
  mgn_bilist_item* item = bilist.head;
  bilist = mgn_bilist{};
  while (item != nullptr) {
    mgn_bilist_item* next = item->next;
    if (item->object != nullptr) free_object(item->object);
    delete item;
    item = next;
  }
}

// ---------------------------------------------------------------------------
// Listings
// ---------------------------------------------------------------------------

namespace {

// Bytes held by listings and the highest value reached.
std::size_t mgn_listing_bytes = 0;
std::size_t mgn_listing_bytes_peak = 0;

void mgn_add_listing_bytes(std::size_t bytes) {
  mgn_listing_bytes += bytes;
  if (mgn_listing_bytes_peak < mgn_listing_bytes) mgn_listing_bytes_peak = mgn_listing_bytes;
}

void mgn_sub_listing_bytes(std::size_t bytes) { mgn_listing_bytes -= bytes; }

// Used records of a block: all of them when full.
std::size_t mgn_used_records(const mgn_listing* block) {
  if (block->next_free == nullptr) return block->capacity;
  return static_cast<std::size_t>(block->next_free - block->base) / block->size;
}

bool mgn_block_has_records(const mgn_listing* block) {
  return block->base != nullptr && block->next_free != block->base;
}

// Last used record of a block that holds one.
char* mgn_last_used_record(const mgn_listing* block) {
  return block->next_free ? block->next_free - block->size : block->last;
}

// Frees one block (header and array) and uncounts it; the links are the
// caller's business.
void mgn_free_listing_block(mgn_listing* block) {
  mgn_sub_listing_bytes(MGN_LISTING_HEADER_BYTES + block->bytes);
  std::free(block->base);
  delete block;
}

// Marks the last n handed-out records free, walking backwards from block;
// returns the block that becomes current.  With zero set the released
// bytes are cleared.
mgn_listing* mgn_recycle_records(mgn_listing* block, long n, bool zero) {
  // Nothing to give back (a full block must stay full).
  if (n == 0) return block;
  std::size_t left = static_cast<std::size_t>(n);
  std::size_t used = mgn_used_records(block);
  while (left > used) {
    if (zero && used > 0) std::memset(block->base, 0, used * block->size);
    block->next_free = block->base;
    left -= used;
    block = block->prev;
    if (block == nullptr) return nullptr;
    used = mgn_used_records(block);
  }
  char* free_slot = block->base + (used - left) * block->size;
  if (zero && left > 0) std::memset(free_slot, 0, left * block->size);
  block->next_free = free_slot;
  return block;
}

// The n-th used record counted as mgn_get_nth_listing_item does, and the
// block that holds it; null when out of range.
char* mgn_locate_listing_record(mgn_listing* listing, long n, mgn_listing*& holder) {
  if (listing == nullptr || n == 0) return nullptr;
  if (n > 0) {
    auto left = static_cast<std::size_t>(n);
    for (mgn_listing* block = listing; block != nullptr; block = block->next) {
      std::size_t used = mgn_used_records(block);
      if (left <= used) {
        holder = block;
        return block->base + (left - 1) * block->size;
      }
      left -= used;
    }
    return nullptr;
  }
  // -(n + 1) avoids overflowing for the most negative n.
  auto left = static_cast<std::size_t>(-(n + 1)) + 1;
  for (mgn_listing* block = listing->prev; block != nullptr; block = block->prev) {
    std::size_t used = mgn_used_records(block);
    if (left <= used) {
      holder = block;
      return block->base + (used - left) * block->size;
    }
    left -= used;
  }
  return nullptr;
}

}  // namespace

std::size_t mgn_listing_memory() { return mgn_listing_bytes; }

std::size_t mgn_listing_memory_peak() { return mgn_listing_bytes_peak; }

mgn_listing* mgn_create_listing(long capacity, std::size_t size) {
  if (capacity < 0 || size == 0) mgn_manipulation_error("Invalid listing", MGN_HERE);
  auto* block = new (std::nothrow) mgn_listing{};
  if (block == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
  mgn_add_listing_bytes(MGN_LISTING_HEADER_BYTES);
  block->size = size;
  if (capacity > 0) {
    const auto records = static_cast<std::size_t>(capacity);
    if (records > std::numeric_limits<std::size_t>::max() / size)
      mgn_allocation_error("Memory allocation failed", MGN_HERE);
    auto* base = static_cast<char*>(std::calloc(records, size));
    if (base == nullptr) mgn_allocation_error("Memory allocation failed", MGN_HERE);
    block->base = base;
    block->next_free = base;
    block->last = base + (records - 1) * size;
    block->capacity = records;
    block->bytes = records * size;
    mgn_add_listing_bytes(block->bytes);
  }
  return block;
}

void* mgn_get_listing_item_grow(mgn_listing*& listing) {
  mgn_listing* block = listing;
  if (block == nullptr)
    mgn_manipulation_error("Invalid listing", "mgn_get_listing_item", mgn_module_name(__FILE__),
                           __LINE__);
  while (block->next_free == nullptr) {
    if (block->next == nullptr) {
      std::size_t capacity = block->capacity;
      if (capacity < MGN_LISTING_MIN_GROWTH) capacity = MGN_LISTING_MIN_GROWTH;
      mgn_listing* added = mgn_create_listing(static_cast<long>(capacity), block->size);
      added->prev = block;
      block->next = added;
    }
    block = block->next;
  }
  listing = block;
  char* slot = block->next_free;
  block->next_free = slot == block->last ? nullptr : slot + block->size;
  return slot;
}

mgn_listing* mgn_get_first_listing_block(mgn_listing* block) {
  if (block == nullptr) return nullptr;
  while (block->prev != nullptr) block = block->prev;
  return block;
}

mgn_listing* mgn_get_last_listing_block(mgn_listing* block) {
  if (block == nullptr) return nullptr;
  while (block->next != nullptr) block = block->next;
  return block;
}

mgn_listing* mgn_append_listing(mgn_listing* first, mgn_listing* second) {
  if (first == nullptr) return mgn_get_last_listing_block(second);
  mgn_listing* first_tail = mgn_get_last_listing_block(first);
  if (second == nullptr) return first_tail;
  mgn_listing* second_head = mgn_get_first_listing_block(second);
  mgn_listing* second_tail = mgn_get_last_listing_block(second);
  // Joining a chain to itself would make it circular.  Both chains are
  // walked only as far as the join needs anyway: two chains are one when
  // they end in the same block.
  if (second_tail == first_tail) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  first_tail->next = second_head;
  second_head->prev = first_tail;
  return second_tail;
}

mgn_listing* mgn_prepend_listing(mgn_listing* first, mgn_listing* second) {
  if (second == nullptr) return mgn_get_first_listing_block(first);
  mgn_listing* second_head = mgn_get_first_listing_block(second);
  if (first == nullptr) return second_head;
  mgn_listing* first_head = mgn_get_first_listing_block(first);
  mgn_listing* second_tail = mgn_get_last_listing_block(second);
  if (first_head == second_head) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  second_tail->next = first_head;
  first_head->prev = second_tail;
  return second_head;
}

mgn_listing* mgn_realloc_listing(mgn_listing* block) {
  if (block == nullptr) return nullptr;
  while (block->next_free == nullptr) {
    if (block->next == nullptr) return block;
    block = block->next;
  }
  // Only the last block of a chain may be partly used.  Blocks after it
  // left empty by recycling or resetting hold no records and are dropped.
  for (mgn_listing* after = block->next; after != nullptr; after = after->next)
    if (mgn_block_has_records(after)) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  mgn_destroy_listing(block->next);
  const std::size_t used = static_cast<std::size_t>(block->next_free - block->base);
  if (used == 0) {
    mgn_listing* prev = block->prev;
    if (prev != nullptr) {
      prev->next = nullptr;
      mgn_free_listing_block(block);
      return prev;
    }
    // The only block: keep the header, which the caller may still refer
    // to, and give back the array.
    mgn_sub_listing_bytes(block->bytes);
    std::free(block->base);
    block->base = block->last = block->next_free = nullptr;
    block->capacity = 0;
    block->bytes = 0;
    return block;
  }
  if (used < block->bytes) {
    auto* base = static_cast<char*>(std::realloc(block->base, used));
    if (base != nullptr) {
      mgn_sub_listing_bytes(block->bytes - used);
      block->base = base;
      block->bytes = used;
    } else {
      mgn_warning_once("Warning: Reallocation of listing failed\n");
    }
  }
  block->last = block->base + used - block->size;
  block->next_free = nullptr;
  block->capacity = used / block->size;
  return block;
}

void mgn_destroy_listing(mgn_listing* block) {
  if (block == nullptr) return;
  if (block->prev != nullptr) block->prev->next = nullptr;
  while (block != nullptr) {
    mgn_listing* next = block->next;
    mgn_free_listing_block(block);
    block = next;
  }
}

void mgn_reset_listing(mgn_listing* block) {
  for (; block != nullptr; block = block->next) block->next_free = block->base;
}

void mgn_reset_listing_zero(mgn_listing* block) {
  for (; block != nullptr; block = block->next) {
    if (block->base != nullptr) std::memset(block->base, 0, block->bytes);
    block->next_free = block->base;
  }
}

mgn_listing* mgn_recycle_last_n_items_listing(mgn_listing* block, long n) {
  if (block == nullptr || n < 0) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  block = mgn_recycle_records(block, n, false);
  if (block == nullptr) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  return block;
}

mgn_listing* mgn_recycle_last_n_items_listing_zero(mgn_listing* block, long n) {
  if (block == nullptr || n < 0) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  block = mgn_recycle_records(block, n, true);
  if (block == nullptr) mgn_manipulation_error("Unexpected situation", MGN_HERE);
  return block;
}

void* mgn_get_next_listing_item(mgn_listing*& listing, const void* record) {
  mgn_listing* block = listing;
  if (block == nullptr) return nullptr;
  char* slot = nullptr;
  if (record == nullptr) {
    slot = block->base;
  } else {
    const char* current = static_cast<const char*>(record);
    if (current != block->last) slot = const_cast<char*>(current) + block->size;
  }
  // Past the used records of this block: the first record of the next
  // block that holds one.
  while (slot == nullptr || slot == block->next_free) {
    block = block->next;
    if (block == nullptr) return nullptr;
    slot = block->base;
  }
  listing = block;
  return slot;
}

void* mgn_get_prev_listing_item(mgn_listing*& listing, const void* record) {
  mgn_listing* block = listing;
  if (block == nullptr) return nullptr;
  if (record != nullptr && record != block->base) {
    return const_cast<char*>(static_cast<const char*>(record)) - block->size;
  }
  if (record == nullptr && mgn_block_has_records(block)) return mgn_last_used_record(block);
  do {
    block = block->prev;
    if (block == nullptr) return nullptr;
  } while (!mgn_block_has_records(block));
  listing = block;
  return mgn_last_used_record(block);
}

void* mgn_get_nth_listing_item(mgn_listing* listing, long n) {
  mgn_listing* holder = nullptr;
  return mgn_locate_listing_record(listing, n, holder);
}

long mgn_count_listing_items(mgn_listing* block) {
  std::size_t count = 0;
  for (; block != nullptr; block = block->next) count += mgn_used_records(block);
  return static_cast<long>(count);
}

void mgn_apply_to_listing(mgn_listing* block, void (*function)(void*, void*), void* argument) {
  for (void* record : mgn_listing_range<char>(block)) function(record, argument);
}

void mgn_step_listing_forward(mgn_listing* block, long first, long count,
                              void (*function)(void*, void*), void* argument) {
  if (count == 0) return;
  if (block == nullptr) {
    if (count < 0) return;
    mgn_manipulation_error("Unexpected end of listing", MGN_HERE);
  }
  char* slot = mgn_locate_listing_record(block, first, block);
  if (slot == nullptr) mgn_manipulation_error("Invalid first item", MGN_HERE);
  if (block->next_free != nullptr && slot >= block->next_free)
    mgn_manipulation_error("Item has not been allocated yet", MGN_HERE);
  for (;;) {
    function(slot, argument);
    if (count > 0 && --count == 0) return;
    // The function may have handed out records: the block's end is read
    // after the call.
    if (slot == block->last) {
      block = block->next;
      slot = block ? block->base : nullptr;
    } else {
      slot += block->size;
    }
    while (block != nullptr && (block->base == nullptr || slot == block->next_free)) {
      block = block->next;
      slot = block ? block->base : nullptr;
    }
    if (block == nullptr) {
      if (count > 0) mgn_manipulation_error("Unexpected end of listing", MGN_HERE);
      return;
    }
  }
}

void mgn_step_listing_backward(mgn_listing* block, long first, long count,
                               void (*function)(void*, void*), void* argument) {
  if (count == 0) return;
  if (block == nullptr) {
    if (count < 0) return;
    mgn_manipulation_error("Unexpected end of listing", MGN_HERE);
  }
  char* slot = mgn_locate_listing_record(block, first, block);
  if (slot == nullptr) mgn_manipulation_error("Invalid first item", MGN_HERE);
  if (block->next_free != nullptr && slot >= block->next_free)
    mgn_manipulation_error("Item has not been allocated yet", MGN_HERE);
  for (;;) {
    function(slot, argument);
    if (count > 0 && --count == 0) return;
    if (slot != block->base) {
      slot -= block->size;
      continue;
    }
    do block = block->prev;
    while (block != nullptr && !mgn_block_has_records(block));
    if (block == nullptr) {
      if (count > 0) mgn_manipulation_error("Unexpected end of listing", MGN_HERE);
      return;
    }
    slot = mgn_last_used_record(block);
  }
}

// ---------------------------------------------------------------------------
// Numbered listings
// ---------------------------------------------------------------------------

uint32_t mgn_new_numbered_record(mgn_numbered_listing& store, std::size_t size) {
  if (store.listing == nullptr) {
    store.listing = mgn_create_listing(static_cast<long>(MGN_NUMBERED_BLOCK), size);
    store.size = size;
    store.count = MGN_NUMBERED_FIRST;
  }
  if (size != store.size)
    mgn_manipulation_error("Invalid item", MGN_HERE);
  const uint32_t number = store.count;
  if (number == 0)
    mgn_manipulation_error("Too many numbered records (more than 2^32)", MGN_HERE);
  char* slot = static_cast<char*>(mgn_get_listing_item(store.listing));
  if ((number & (MGN_NUMBERED_BLOCK - 1)) == 0) store.blocks.push_back(slot);
  ++store.count;
  return number;
}

void mgn_destroy_numbered_listing(mgn_numbered_listing& store) {
  if (store.listing != nullptr) mgn_destroy_listing(mgn_get_first_listing_block(store.listing));
  store = mgn_numbered_listing{};
}
