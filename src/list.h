// Containers of mgn: singly linked lists of references, doubly linked lists
// with a current position (bilists), and listings, the chains of fixed-size
// record blocks from which every model and mesh record is taken.
//
// The untyped routines below are the primary interface: lists and bilists
// hold void* references, listings hand out raw zero-filled record slots.
// A few small templates at the end give the same operations typed at the
// call site (mgn_list_range, mgn_get_listing_item_as, mgn_listing_range,
// mgn_apply_to_listing with a callable) without changing their behaviour.
//
// Misuse (an object that is not in the list, a walk beyond the end of a
// listing, ...) ends the run with a manipulation error; running out of
// memory ends it with an allocation error.
#ifndef MGN_LIST_H
#define MGN_LIST_H

#include <cassert>
#include <cstddef>
#include <iterator>
#include <type_traits>

#include "records.h"

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

// New item holding the object in front of / at the end of the list; returns
// the new item.
mgn_list_item* mgn_add_item_to_head(mgn_list& list, void* object);
mgn_list_item* mgn_add_item_to_tail(mgn_list& list, void* object);
// New item holding the object in front of the list unless an item holds it
// already; returns the new item, or null when the object was there.
mgn_list_item* mgn_add_item_once(mgn_list& list, void* object);
// Puts an existing item chain in front of the list (the tail of the chain
// gets the old first item) / appends an existing item chain at the end.
void mgn_link_item_to_head(mgn_list& list, mgn_list_item* item);
void mgn_link_item_to_tail(mgn_list& list, mgn_list_item* item);
// Detach and return the first / last item (null on an empty list).  A
// detached item has no next item.
mgn_list_item* mgn_unlink_head_item(mgn_list& list);
mgn_list_item* mgn_unlink_tail_item(mgn_list& list);
// Detaches and returns the first item holding the object, null when absent.
mgn_list_item* mgn_unlink_item(mgn_list& list, void* object);
// Detaches a known item; returns it, or null when it is not in the list.
mgn_list_item* mgn_unlink_given_item(mgn_list& list, mgn_list_item* item);
// Detach and free the first / last item and return its object (null on an
// empty list).
void* mgn_remove_head_item(mgn_list& list);
void* mgn_remove_tail_item(mgn_list& list);
// Frees the first item holding the object; returns the object, or null when
// absent.
void* mgn_remove_item(mgn_list& list, void* object);
// Moves the item holding the object to the front / the end ("Unexpected end
// of list" when absent).
void mgn_move_item_to_head(mgn_list& list, void* object);
void mgn_move_item_to_tail(mgn_list& list, void* object);
// Reverses the order in place; returns the new first item.
mgn_list_item* mgn_reverse_list(mgn_list& list);
// Last item ("Empty list encountered" on an empty list).
mgn_list_item* mgn_get_tail_list(mgn_list list);
// The n-th item counted from 1 ("Unexpected end of list" when the list is
// shorter, "Invalid item" for n below 1).
mgn_list_item* mgn_get_nth_list(mgn_list list, long n);
// First item holding the object, or null.
mgn_list_item* mgn_find_item(mgn_list list, const void* object);
// Replaces the object of the first item holding it ("Item not found" when
// absent); returns that item.
mgn_list_item* mgn_replace_item_list(mgn_list list, const void* object, void* new_object);
// Number of items (0 for an empty list).
long mgn_count_items(mgn_list list);
// Free all items and leave the list empty; the second also hands every
// non-null object to free_object (std::free for objects from malloc).
void mgn_destroy_list(mgn_list& list);
void mgn_destroy_list_and_objects(mgn_list& list, void (*free_object)(void*));
// Calls function(object, argument) for every non-null object, first to last.
void mgn_apply_to_list(mgn_list list, void (*function)(void*, void*), void* argument);

// ---------------------------------------------------------------------------
// Bilists
// ---------------------------------------------------------------------------

// New item at the head / the tail; the current item is not changed.
void mgn_add_item_to_bilist_head(mgn_bilist& bilist, void* object);
void mgn_add_item_to_bilist_tail(mgn_bilist& bilist, void* object);
// New item before the current one ("Invalid item" when there is none).
void mgn_add_item_to_bilist_current_prev(mgn_bilist& bilist, void* object);
// Makes the item holding the object current; returns the object, or null
// (current unchanged) when absent.
void* mgn_set_bilist_current(mgn_bilist& bilist, const void* object);
// Make the head / the tail current and return its object (null when empty).
void* mgn_get_first_bilist_item(mgn_bilist& bilist);
void* mgn_get_last_bilist_item(mgn_bilist& bilist);
// Object of the current item (null when there is none).
void* mgn_get_current_bilist_item(const mgn_bilist& bilist);
// Find the item holding the object (the current item first, else searching
// from the head; "Item not present in list" when absent), make its next /
// previous item current and return that object.  At the end the result is
// null and the found item stays current, unless cyclic, which wraps to the
// head / the tail.
void* mgn_get_next_bilist_item(mgn_bilist& bilist, const void* object, bool cyclic);
void* mgn_get_prev_bilist_item(mgn_bilist& bilist, const void* object, bool cyclic);
// Free all items and leave the bilist empty; the second also hands every
// non-null object to free_object.
void mgn_destroy_bilist(mgn_bilist& bilist);
void mgn_destroy_bilist_and_objects(mgn_bilist& bilist, void (*free_object)(void*));

// ---------------------------------------------------------------------------
// Listings
// ---------------------------------------------------------------------------

// Bytes counted for one block header, whatever the size of the record.
constexpr std::size_t MGN_LISTING_HEADER_BYTES = 32;
// Smallest capacity of the blocks added when a listing grows.
constexpr std::size_t MGN_LISTING_MIN_GROWTH = 10;

// Bytes held by listings now (block headers and record arrays) and the
// highest value this count has reached in the process.
std::size_t mgn_listing_memory();
std::size_t mgn_listing_memory_peak();

// New single-block listing of capacity records of size bytes, zero-filled;
// capacity 0 gives a block without array.
mgn_listing* mgn_create_listing(long capacity, std::size_t size);

// Grows the listing when its block is full and hands out the next slot
// (the out-of-line part of mgn_get_listing_item).
void* mgn_get_listing_item_grow(mgn_listing*& listing);

// Hands out the next free record slot, adding a block of the same capacity
// (at least 10 records) when the chain is full; the listing reference moves
// to the block that holds the slot.  Slots are zero-filled when their block
// is created and never handed out twice until recycled.
inline void* mgn_get_listing_item(mgn_listing*& listing) {
  mgn_listing* block = listing;
  if (block != nullptr && block->next_free != nullptr) [[likely]] {
    char* slot = block->next_free;
    block->next_free = slot == block->last ? nullptr : slot + block->size;
    return slot;
  }
  return mgn_get_listing_item_grow(listing);
}

// First / last block of the chain (null for null).
mgn_listing* mgn_get_first_listing_block(mgn_listing* block);
mgn_listing* mgn_get_last_listing_block(mgn_listing* block);
// Links the chain of second after the chain of first (either may be null)
// and returns the last block of the joined chain.
mgn_listing* mgn_append_listing(mgn_listing* first, mgn_listing* second);
// Links the chain of first after the chain of second and returns the first
// block of the joined chain.
mgn_listing* mgn_prepend_listing(mgn_listing* first, mgn_listing* second);
// Shrinks the chain to its used records and returns its last block: the
// partly used block (which must be the last one holding records; empty
// blocks after it are freed) gets an array of exactly its used records and
// becomes full.  An empty last block is removed; an empty single block keeps
// its header but gives back its array (capacity 0), so references to it
// stay valid.
mgn_listing* mgn_realloc_listing(mgn_listing* block);
// Frees this block and all following ones and unlinks them from the
// preceding block.
void mgn_destroy_listing(mgn_listing* block);
// Mark this and the following blocks empty; the second also zero-fills them.
void mgn_reset_listing(mgn_listing* block);
void mgn_reset_listing_zero(mgn_listing* block);
// Give back the last n handed-out records (the second zero-fills them) and
// return the block that becomes current.
mgn_listing* mgn_recycle_last_n_items_listing(mgn_listing* block, long n);
mgn_listing* mgn_recycle_last_n_items_listing_zero(mgn_listing* block, long n);
// Neighbour record of a record of the referenced block, across block
// borders; null at the end.  The reference follows the record returned.  A
// null record stands before the first (after the last) used record of the
// referenced block.
void* mgn_get_next_listing_item(mgn_listing*& listing, const void* record);
void* mgn_get_prev_listing_item(mgn_listing*& listing, const void* record);
// The n-th used record counted from 1 starting at the given block; a
// negative n counts backwards starting with the block before it (-1 is the
// last used record before the given block).  Null when out of range or for
// n = 0.
void* mgn_get_nth_listing_item(mgn_listing* listing, long n);
// Number of used records of this and the following blocks.
long mgn_count_listing_items(mgn_listing* block);
// Calls function(record, argument) for every used record of this and the
// following blocks, in order.
void mgn_apply_to_listing(mgn_listing* block, void (*function)(void*, void*), void* argument);
// Call function(record, argument) for count records starting with the
// first-th (counted from 1 from the given block), forward / backward across
// blocks; a negative count walks to the end of the listing.
void mgn_step_listing_forward(mgn_listing* block, long first, long count,
                              void (*function)(void*, void*), void* argument);
void mgn_step_listing_backward(mgn_listing* block, long first, long count,
                               void (*function)(void*, void*), void* argument);

// ---------------------------------------------------------------------------
// Typed helpers
// ---------------------------------------------------------------------------

// Records living in listing slots: zero-filled raw memory becomes the record
// (every field zero or null; default member initializers are NOT applied),
// and nothing is ever destroyed.
template <typename T>
inline constexpr bool mgn_listing_record_v =
    std::is_trivially_destructible_v<T> &&
    (std::is_aggregate_v<T> || std::is_trivially_default_constructible_v<T>);

// Forward walk over the objects of a list as T*:
//   for (mgn_curve* curve : mgn_list_range<mgn_curve>(list)) ...
// The item of the current object may be unlinked or removed during the walk.
template <typename T>
class mgn_list_range {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = T**;
    using reference = T*;
    iterator() = default;
    explicit iterator(mgn_list_item* item) : item_(item), next_(item ? item->next : nullptr) {}
    T* operator*() const { return static_cast<T*>(item_->object); }
    iterator& operator++() {
      item_ = next_;
      next_ = item_ ? item_->next : nullptr;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& other) const { return item_ == other.item_; }

   private:
    mgn_list_item* item_ = nullptr;
    mgn_list_item* next_ = nullptr;
  };
  explicit mgn_list_range(mgn_list list) : list_(list) {}
  iterator begin() const { return iterator(list_); }
  iterator end() const { return iterator(); }

 private:
  mgn_list list_;
};

// Next free slot of the listing as a T record (see mgn_get_listing_item).
template <typename T>
inline T* mgn_get_listing_item_as(mgn_listing*& listing) {
  static_assert(mgn_listing_record_v<T>, "listing records must be plain records");
  void* slot = mgn_get_listing_item(listing);
  assert(listing->size >= sizeof(T));
  return static_cast<T*>(slot);
}

// Forward walk over the used records of this and the following blocks as T*:
//   for (mgn_node* node : mgn_listing_range<mgn_node>(nodes)) ...
// Records handed out during the walk at the end of the chain are visited.
template <typename T>
class mgn_listing_range {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = T**;
    using reference = T*;
    iterator() = default;
    explicit iterator(mgn_listing* block) : block_(block) {
      if (block_ != nullptr) {
        slot_ = block_->base;
        settle();
      }
    }
    T* operator*() const { return reinterpret_cast<T*>(slot_); }
    iterator& operator++() {
      if (slot_ == block_->last) {
        block_ = block_->next;
        slot_ = block_ ? block_->base : nullptr;
      } else {
        slot_ += block_->size;
      }
      settle();
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& other) const { return slot_ == other.slot_; }

   private:
    // Moves past the end of used records of the block to the next block
    // that holds one; the end is a null slot.
    void settle() {
      while (block_ != nullptr && (block_->base == nullptr || slot_ == block_->next_free)) {
        block_ = block_->next;
        slot_ = block_ ? block_->base : nullptr;
      }
      if (block_ == nullptr) slot_ = nullptr;
    }
    mgn_listing* block_ = nullptr;
    char* slot_ = nullptr;
  };
  explicit mgn_listing_range(mgn_listing* block) : block_(block) {}
  iterator begin() const { return iterator(block_); }
  iterator end() const { return iterator(); }

 private:
  mgn_listing* block_;
};

// Forward walk over the first count used records of this and the following
// blocks as T* (every record for a negative count):
//   for (mgn_edge** ref : mgn_listing_first<mgn_edge*>(edges, edge_count)) ...
// The per-entity reference listings are walked this way: once an entity is
// collected its chain is linked into a global one, with other entities'
// blocks after its own, and only its count tells where its records end.
template <typename T>
class mgn_listing_first {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T*;
    using difference_type = std::ptrdiff_t;
    using pointer = T**;
    using reference = T*;
    iterator() = default;
    iterator(mgn_listing* block, long count) : walk_(count == 0 ? nullptr : block), left_(count) {}
    T* operator*() const { return *walk_; }
    iterator& operator++() {
      if (left_ > 0 && --left_ == 0)
        walk_ = typename mgn_listing_range<T>::iterator();
      else
        ++walk_;
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const iterator& other) const { return walk_ == other.walk_; }

   private:
    typename mgn_listing_range<T>::iterator walk_;
    long left_ = 0;  // records still to visit, the current one included; negative: all
  };
  mgn_listing_first(mgn_listing* block, long count) : block_(block), count_(count) {}
  iterator begin() const { return iterator(block_, count_); }
  iterator end() const { return iterator(); }

 private:
  mgn_listing* block_;
  long count_;
};

// Calls function(T*) for every used record of this and the following blocks.
template <typename T, typename F>
inline void mgn_apply_to_listing(mgn_listing* block, F&& function) {
  for (T* record : mgn_listing_range<T>(block)) function(record);
}

// ---------------------------------------------------------------------------
// Numbered listings
// ---------------------------------------------------------------------------

// A new zero-filled record of size bytes in the numbered listing; returns
// its number (MGN_NUMBERED_FIRST for the first).  Past 2^32 - 1 numbers the
// run ends with a manipulation error.
uint32_t mgn_new_numbered_record(mgn_numbered_listing& store, std::size_t size);

// The record of a number the listing handed out; null for 0.
template <typename T>
inline T* mgn_numbered_record(const mgn_numbered_listing& store, uint32_t number) {
  return reinterpret_cast<T*>(store.blocks[number >> MGN_NUMBERED_BLOCK_BITS]) + (number & (MGN_NUMBERED_BLOCK - 1));
}

// Destroys the listing and leaves the store empty.
void mgn_destroy_numbered_listing(mgn_numbered_listing& store);

#endif  // MGN_LIST_H
