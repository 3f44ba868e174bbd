// Lists, bilists and listings.
#include "list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Objects stored in lists: addresses of an array of ints, so contents can be
// written as the int values in order.
struct list_fixture {
  int objects[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  void* at(int i) { return &objects[i]; }
  mgn_list make(std::vector<int> values) {
    mgn_list list = nullptr;
    for (int v : values) mgn_add_item_to_tail(list, at(v));
    return list;
  }
};

std::vector<int> contents(mgn_list list) {
  std::vector<int> values;
  for (int* object : mgn_list_range<int>(list)) values.push_back(*object);
  return values;
}

// A record of a test listing.
struct rec {
  long id;
  double value;
};

// A listing of capacity records of type rec whose records get the ids 1..n.
mgn_listing* filled_listing(long capacity, long n) {
  mgn_listing* listing = mgn_create_listing(capacity, sizeof(rec));
  for (long i = 1; i <= n; ++i) mgn_get_listing_item_as<rec>(listing)->id = i;
  return listing;
}

std::vector<long> listing_ids(mgn_listing* listing) {
  std::vector<long> ids;
  for (rec* r : mgn_listing_range<rec>(mgn_get_first_listing_block(listing))) ids.push_back(r->id);
  return ids;
}

std::vector<long> range_ids(long from, long to) {
  std::vector<long> ids;
  for (long i = from; i <= to; ++i) ids.push_back(i);
  return ids;
}

int block_count(mgn_listing* listing) {
  int n = 0;
  for (mgn_listing* b = mgn_get_first_listing_block(listing); b; b = b->next) ++n;
  return n;
}

void collect_id(void* record, void* argument) {
  static_cast<std::vector<long>*>(argument)->push_back(static_cast<rec*>(record)->id);
}

// Regex of the place line of a manipulation error in the list module.
std::string place(const std::string& routine) {
  return "\\(routine " + routine + ", file src/list, line [0-9]+\\)";
}

}  // namespace

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

TEST(List, EditingOperationsGiveTheExpectedOrder) {
  struct edit_case {
    const char* name;
    std::vector<int> start;
    void (*edit)(mgn_list&, list_fixture&);
    std::vector<int> expected;
  };
  const edit_case cases[] = {
      {"add to head", {1, 2}, [](mgn_list& l, list_fixture& f) { mgn_add_item_to_head(l, f.at(0)); }, {0, 1, 2}},
      {"add to head of empty", {}, [](mgn_list& l, list_fixture& f) { mgn_add_item_to_head(l, f.at(3)); }, {3}},
      {"add to tail", {1, 2}, [](mgn_list& l, list_fixture& f) { mgn_add_item_to_tail(l, f.at(3)); }, {1, 2, 3}},
      {"link chain to head",
       {3},
       [](mgn_list& l, list_fixture& f) {
         mgn_list chain = f.make({1, 2});
         mgn_link_item_to_head(l, chain);
       },
       {1, 2, 3}},
      {"link chain to tail of empty",
       {},
       [](mgn_list& l, list_fixture& f) { mgn_link_item_to_tail(l, f.make({1, 2})); },
       {1, 2}},
      {"link item to tail",
       {1, 2},
       [](mgn_list& l, list_fixture& f) { mgn_link_item_to_tail(l, f.make({5})); },
       {1, 2, 5}},
      {"remove middle",
       {1, 2, 3},
       [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_remove_item(l, f.at(2)), f.at(2)); },
       {1, 3}},
      {"remove head object",
       {1, 2, 3},
       [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_remove_item(l, f.at(1)), f.at(1)); },
       {2, 3}},
      {"remove absent",
       {1, 2},
       [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_remove_item(l, f.at(7)), nullptr); },
       {1, 2}},
      {"remove first of duplicates",
       {2, 1, 2},
       [](mgn_list& l, list_fixture& f) { mgn_remove_item(l, f.at(2)); },
       {1, 2}},
      {"remove head item",
       {1, 2, 3},
       [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_remove_head_item(l), f.at(1)); },
       {2, 3}},
      {"remove tail item",
       {1, 2, 3},
       [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_remove_tail_item(l), f.at(3)); },
       {1, 2}},
      {"remove tail of single", {4}, [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_remove_tail_item(l), f.at(4)); }, {}},
      {"remove from empty",
       {},
       [](mgn_list& l, list_fixture&) {
         EXPECT_EQ(mgn_remove_head_item(l), nullptr);
         EXPECT_EQ(mgn_remove_tail_item(l), nullptr);
       },
       {}},
      {"move to head", {1, 2, 3}, [](mgn_list& l, list_fixture& f) { mgn_move_item_to_head(l, f.at(3)); }, {3, 1, 2}},
      {"move to tail", {1, 2, 3}, [](mgn_list& l, list_fixture& f) { mgn_move_item_to_tail(l, f.at(1)); }, {2, 3, 1}},
      {"move tail to tail", {1, 2, 3}, [](mgn_list& l, list_fixture& f) { mgn_move_item_to_tail(l, f.at(3)); }, {1, 2, 3}},
      {"reverse", {1, 2, 3, 4}, [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_reverse_list(l)->object, f.at(4)); }, {4, 3, 2, 1}},
      {"reverse empty", {}, [](mgn_list& l, list_fixture&) { EXPECT_EQ(mgn_reverse_list(l), nullptr); }, {}},
      {"replace",
       {1, 2, 3},
       [](mgn_list& l, list_fixture& f) { EXPECT_EQ(mgn_replace_item_list(l, f.at(2), f.at(6))->object, f.at(6)); },
       {1, 6, 3}},
  };
  for (const edit_case& c : cases) {
    list_fixture f;
    mgn_list list = f.make(c.start);
    c.edit(list, f);
    EXPECT_EQ(contents(list), c.expected) << c.name;
    EXPECT_EQ(mgn_count_items(list), static_cast<long>(c.expected.size())) << c.name;
    mgn_destroy_list(list);
    EXPECT_EQ(list, nullptr);
  }
}

TEST(List, UnlinkedItemsAreDetachedAndReusable) {
  list_fixture f;
  mgn_list list = f.make({1, 2, 3, 4});
  mgn_list_item* head = mgn_unlink_head_item(list);
  mgn_list_item* tail = mgn_unlink_tail_item(list);
  mgn_list_item* middle = mgn_unlink_item(list, f.at(2));
  ASSERT_TRUE(head && tail && middle);
  EXPECT_EQ(head->object, f.at(1));
  EXPECT_EQ(tail->object, f.at(4));
  EXPECT_EQ(middle->object, f.at(2));
  EXPECT_EQ(head->next, nullptr);
  EXPECT_EQ(middle->next, nullptr);
  EXPECT_EQ(contents(list), std::vector<int>({3}));
  EXPECT_EQ(mgn_unlink_item(list, f.at(7)), nullptr);

  // Relinking the detached items elsewhere makes them part of that list.
  mgn_link_item_to_tail(list, head);
  mgn_link_item_to_head(list, tail);
  EXPECT_EQ(contents(list), std::vector<int>({4, 3, 1}));

  // A known item is detached; an item of another list is not.
  EXPECT_EQ(mgn_unlink_given_item(list, head), head);
  EXPECT_EQ(mgn_unlink_given_item(list, middle), nullptr);
  EXPECT_EQ(contents(list), std::vector<int>({4, 3}));
  delete head;
  delete middle;
  mgn_destroy_list(list);

  mgn_list empty = nullptr;
  EXPECT_EQ(mgn_unlink_head_item(empty), nullptr);
  EXPECT_EQ(mgn_unlink_tail_item(empty), nullptr);
}

TEST(List, LookupsCountFromOneAndFindTheFirstHolder) {
  list_fixture f;
  mgn_list list = f.make({5, 6, 5});
  EXPECT_EQ(mgn_get_nth_list(list, 1)->object, f.at(5));
  EXPECT_EQ(mgn_get_nth_list(list, 3), mgn_get_tail_list(list));
  EXPECT_EQ(mgn_find_item(list, f.at(5)), list);
  EXPECT_EQ(mgn_find_item(list, f.at(6)), list->next);
  EXPECT_EQ(mgn_find_item(list, f.at(1)), nullptr);
  EXPECT_EQ(mgn_find_item(nullptr, f.at(1)), nullptr);
  EXPECT_EQ(mgn_count_items(nullptr), 0);
  mgn_destroy_list(list);
}

TEST(List, ApplyVisitsNonNullObjectsInOrderAndToleratesRemoval) {
  list_fixture f;
  mgn_list list = f.make({1, 2, 3});
  mgn_add_item_to_tail(list, nullptr);
  struct walk {
    mgn_list* list;
    std::vector<int> seen;
  } w{&list, {}};
  mgn_apply_to_list(
      list,
      [](void* object, void* argument) {
        auto* state = static_cast<walk*>(argument);
        state->seen.push_back(*static_cast<int*>(object));
        mgn_remove_item(*state->list, object);
      },
      &w);
  EXPECT_EQ(w.seen, std::vector<int>({1, 2, 3}));
  EXPECT_EQ(mgn_count_items(list), 1);  // the null object
  mgn_destroy_list(list);
}

TEST(List, DestroyWithObjectsFreesEveryNonNullObject) {
  mgn_list list = nullptr;
  for (int i = 0; i < 3; ++i) mgn_add_item_to_head(list, std::malloc(16));
  mgn_add_item_to_head(list, nullptr);
  static int freed = 0;
  freed = 0;
  mgn_destroy_list_and_objects(list, [](void* object) {
    ++freed;
    std::free(object);
  });
  EXPECT_EQ(freed, 3);
  EXPECT_EQ(list, nullptr);
}

TEST(ListDeath, MisuseIsAManipulationError) {
  list_fixture f;
  mgn_list list = f.make({1, 2});
  mgn_list empty = nullptr;
  EXPECT_EXIT(mgn_get_tail_list(empty), ::testing::ExitedWithCode(10),
              place("mgn_get_tail_list") + "\nEmpty list encountered");
  EXPECT_EXIT(mgn_get_nth_list(list, 3), ::testing::ExitedWithCode(10),
              place("mgn_get_nth_list") + "\nUnexpected end of list");
  EXPECT_EXIT(mgn_get_nth_list(empty, 1), ::testing::ExitedWithCode(10), "Unexpected end of list");
  EXPECT_EXIT(mgn_move_item_to_head(list, f.at(5)), ::testing::ExitedWithCode(10),
              place("mgn_move_item_to_head") + "\nUnexpected end of list");
  EXPECT_EXIT(mgn_move_item_to_tail(list, f.at(5)), ::testing::ExitedWithCode(10),
              place("mgn_move_item_to_tail") + "\nUnexpected end of list");
  EXPECT_EXIT(mgn_replace_item_list(list, f.at(5), f.at(6)), ::testing::ExitedWithCode(10),
              place("mgn_replace_item_list") + "\nItem not found");
  mgn_destroy_list(list);
}

// ---------------------------------------------------------------------------
// Bilists
// ---------------------------------------------------------------------------

TEST(Bilist, WalksWithTheCurrentPosition) {
  list_fixture f;
  mgn_bilist b;
  EXPECT_EQ(mgn_get_first_bilist_item(b), nullptr);
  EXPECT_EQ(mgn_get_last_bilist_item(b), nullptr);
  mgn_add_item_to_bilist_tail(b, f.at(2));
  mgn_add_item_to_bilist_tail(b, f.at(3));
  mgn_add_item_to_bilist_head(b, f.at(1));
  EXPECT_EQ(mgn_get_current_bilist_item(b), nullptr);

  // Forward walk from the head, and backward from the tail.
  std::vector<void*> forward, backward;
  for (void* o = mgn_get_first_bilist_item(b); o; o = mgn_get_next_bilist_item(b, o, false))
    forward.push_back(o);
  EXPECT_EQ(forward, std::vector<void*>({f.at(1), f.at(2), f.at(3)}));
  EXPECT_EQ(mgn_get_current_bilist_item(b), f.at(3));  // stays on the last found
  for (void* o = mgn_get_last_bilist_item(b); o; o = mgn_get_prev_bilist_item(b, o, false))
    backward.push_back(o);
  EXPECT_EQ(backward, std::vector<void*>({f.at(3), f.at(2), f.at(1)}));

  // Cyclic neighbours wrap around; a non-current object is found from the head.
  EXPECT_EQ(mgn_get_next_bilist_item(b, f.at(3), true), f.at(1));
  EXPECT_EQ(mgn_get_current_bilist_item(b), f.at(1));
  EXPECT_EQ(mgn_get_prev_bilist_item(b, f.at(1), true), f.at(3));
  EXPECT_EQ(mgn_get_prev_bilist_item(b, f.at(3), false), f.at(2));

  // Insertion before the current item, at the head too.
  EXPECT_EQ(mgn_set_bilist_current(b, f.at(2)), f.at(2));
  mgn_add_item_to_bilist_current_prev(b, f.at(5));
  EXPECT_EQ(mgn_set_bilist_current(b, f.at(1)), f.at(1));
  mgn_add_item_to_bilist_current_prev(b, f.at(0));
  EXPECT_EQ(mgn_set_bilist_current(b, f.at(7)), nullptr);
  EXPECT_EQ(mgn_get_current_bilist_item(b), f.at(1));
  std::vector<void*> order;
  for (mgn_bilist_item* i = b.head; i; i = i->next) {
    order.push_back(i->object);
    EXPECT_EQ(i->next ? i->next->prev : b.tail, i);
  }
  EXPECT_EQ(order, std::vector<void*>({f.at(0), f.at(1), f.at(5), f.at(2), f.at(3)}));
  EXPECT_EQ(b.head->prev, nullptr);

  mgn_destroy_bilist(b);
  EXPECT_EQ(b.head, nullptr);
  EXPECT_EQ(b.tail, nullptr);
  EXPECT_EQ(b.current, nullptr);

  mgn_add_item_to_bilist_head(b, std::malloc(8));
  mgn_add_item_to_bilist_head(b, nullptr);
  mgn_destroy_bilist_and_objects(b, std::free);
  EXPECT_EQ(b.head, nullptr);
}

TEST(BilistDeath, MisuseIsAManipulationError) {
  list_fixture f;
  mgn_bilist b;
  mgn_add_item_to_bilist_tail(b, f.at(1));
  EXPECT_EXIT(mgn_add_item_to_bilist_current_prev(b, f.at(2)), ::testing::ExitedWithCode(10),
              place("mgn_add_item_to_bilist_current_prev") + "\nInvalid item");
  EXPECT_EXIT(mgn_get_next_bilist_item(b, f.at(2), false), ::testing::ExitedWithCode(10),
              place("mgn_get_next_bilist_item") + "\nItem not present in list");
  EXPECT_EXIT(mgn_get_prev_bilist_item(b, f.at(2), true), ::testing::ExitedWithCode(10),
              place("mgn_get_prev_bilist_item") + "\nItem not present in list");
  mgn_destroy_bilist(b);
}

// ---------------------------------------------------------------------------
// Listings
// ---------------------------------------------------------------------------

TEST(Listing, CreationCountsHeaderAndZeroFilledArray) {
  const std::size_t before = mgn_listing_memory();
  mgn_listing* listing = mgn_create_listing(7, sizeof(rec));
  EXPECT_EQ(mgn_listing_memory() - before, MGN_LISTING_HEADER_BYTES + 7 * sizeof(rec));
  EXPECT_EQ(listing->capacity, 7u);
  EXPECT_EQ(listing->bytes, 7 * sizeof(rec));
  EXPECT_EQ(listing->next_free, listing->base);
  EXPECT_EQ(listing->last, listing->base + 6 * sizeof(rec));
  EXPECT_EQ(listing->next, nullptr);
  EXPECT_EQ(listing->prev, nullptr);
  for (std::size_t i = 0; i < listing->bytes; ++i) ASSERT_EQ(listing->base[i], 0);
  mgn_destroy_listing(listing);
  EXPECT_EQ(mgn_listing_memory(), before);

  // Capacity 0: a header without array, full at once; the first request
  // adds a block of 10 records.
  mgn_listing* bare = mgn_create_listing(0, sizeof(rec));
  EXPECT_EQ(mgn_listing_memory() - before, MGN_LISTING_HEADER_BYTES);
  EXPECT_EQ(bare->base, nullptr);
  EXPECT_EQ(bare->next_free, nullptr);
  mgn_listing* current = bare;
  rec* r = mgn_get_listing_item_as<rec>(current);
  EXPECT_NE(current, bare);
  EXPECT_EQ(current->capacity, 10u);
  EXPECT_EQ(reinterpret_cast<char*>(r), current->base);
  mgn_destroy_listing(bare);
  EXPECT_EQ(mgn_listing_memory(), before);
}

TEST(Listing, GrowsByWholeBlocksOfTheSameCapacityAtLeastTen) {
  struct growth_case {
    long capacity;
    std::size_t growth;
  };
  for (growth_case c : {growth_case{1, 10}, {5, 10}, {10, 10}, {11, 11}, {1000, 1000}}) {
    mgn_listing* first = mgn_create_listing(c.capacity, sizeof(rec));
    mgn_listing* listing = first;
    // Exactly the capacity: the block is full, no second block yet.
    for (long i = 0; i < c.capacity; ++i) mgn_get_listing_item(listing);
    EXPECT_EQ(listing, first) << c.capacity;
    EXPECT_EQ(first->next_free, nullptr) << c.capacity;
    EXPECT_EQ(first->next, nullptr) << c.capacity;
    // The next request creates the second block and moves the reference.
    const std::size_t before = mgn_listing_memory();
    char* slot = static_cast<char*>(mgn_get_listing_item(listing));
    ASSERT_NE(listing, first) << c.capacity;
    EXPECT_EQ(first->next, listing);
    EXPECT_EQ(listing->prev, first);
    EXPECT_EQ(listing->capacity, c.growth) << c.capacity;
    EXPECT_EQ(slot, listing->base);
    EXPECT_EQ(mgn_listing_memory() - before, MGN_LISTING_HEADER_BYTES + c.growth * sizeof(rec));
    mgn_destroy_listing(first);
  }
}

TEST(Listing, HandsOutEverySlotOnceInOrder) {
  mgn_listing* listing = filled_listing(4, 15);  // blocks of 4, 10, 10
  EXPECT_EQ(listing_ids(listing), range_ids(1, 15));
  EXPECT_EQ(block_count(listing), 3);
  EXPECT_EQ(mgn_count_listing_items(mgn_get_first_listing_block(listing)), 15);
  // Records of one block are contiguous.
  mgn_listing* first = mgn_get_first_listing_block(listing);
  EXPECT_EQ(reinterpret_cast<rec*>(first->base)[3].id, 4);
  mgn_destroy_listing(first);
}

TEST(Listing, ShrinkingFitsTheLastBlockToItsRecords) {
  // 3 of 1000 records: a full block of capacity 3.
  mgn_listing* listing = filled_listing(1000, 3);
  const std::size_t before = mgn_listing_memory();
  mgn_listing* shrunk = mgn_realloc_listing(listing);
  EXPECT_EQ(shrunk, listing);
  EXPECT_EQ(shrunk->capacity, 3u);
  EXPECT_EQ(shrunk->next_free, nullptr);
  EXPECT_EQ(shrunk->bytes, 3 * sizeof(rec));
  EXPECT_EQ(shrunk->last, shrunk->base + 2 * sizeof(rec));
  EXPECT_EQ(before - mgn_listing_memory(), 997 * sizeof(rec));
  EXPECT_EQ(listing_ids(shrunk), range_ids(1, 3));
  // Growing again adds a block of at least 10 records.
  mgn_listing* current = shrunk;
  mgn_get_listing_item_as<rec>(current)->id = 4;
  EXPECT_EQ(current->capacity, 10u);
  EXPECT_EQ(listing_ids(current), range_ids(1, 4));
  mgn_destroy_listing(mgn_get_first_listing_block(current));

  // An empty last block is removed; the previous block is returned.
  mgn_listing* two = filled_listing(5, 5);
  mgn_listing* last = two;
  mgn_get_listing_item(last);
  last = mgn_recycle_last_n_items_listing(last, 1);
  ASSERT_EQ(block_count(last), 2);
  const std::size_t with_two = mgn_listing_memory();
  mgn_listing* kept = mgn_realloc_listing(two);
  EXPECT_EQ(kept, two);
  EXPECT_EQ(kept->next, nullptr);
  EXPECT_EQ(with_two - mgn_listing_memory(), MGN_LISTING_HEADER_BYTES + 10 * sizeof(rec));
  EXPECT_EQ(listing_ids(kept), range_ids(1, 5));
  mgn_destroy_listing(kept);

  // A full chain is left as it is.
  mgn_listing* full = filled_listing(4, 8);
  EXPECT_EQ(mgn_realloc_listing(mgn_get_first_listing_block(full)), full);
  EXPECT_EQ(full->capacity, 4u);
  mgn_destroy_listing(mgn_get_first_listing_block(full));
}

TEST(Listing, ShrinkingAnEmptySingleBlockKeepsAUsableHeader) {
  mgn_listing* listing = mgn_create_listing(100, sizeof(rec));
  const std::size_t before = mgn_listing_memory();
  mgn_listing* shrunk = mgn_realloc_listing(listing);
  EXPECT_EQ(shrunk, listing);
  EXPECT_EQ(shrunk->capacity, 0u);
  EXPECT_EQ(before - mgn_listing_memory(), 100 * sizeof(rec));
  EXPECT_EQ(mgn_count_listing_items(shrunk), 0);
  mgn_get_listing_item_as<rec>(shrunk)->id = 1;
  EXPECT_EQ(listing_ids(shrunk), range_ids(1, 1));
  mgn_destroy_listing(listing);
}

TEST(Listing, ShrinkingDropsEmptyBlocksAfterThePartlyUsedOne) {
  mgn_listing* listing = filled_listing(4, 16);  // blocks of 4, 10, 10
  mgn_listing* current = mgn_recycle_last_n_items_listing(listing, 11);  // 5 left
  ASSERT_EQ(block_count(current), 3);
  mgn_listing* last = mgn_realloc_listing(mgn_get_first_listing_block(current));
  EXPECT_EQ(block_count(last), 2);
  EXPECT_EQ(last->next, nullptr);
  EXPECT_EQ(last->capacity, 1u);
  EXPECT_EQ(listing_ids(last), range_ids(1, 5));
  mgn_destroy_listing(mgn_get_first_listing_block(last));
}

TEST(Listing, AppendAndPrependSpliceWholeChains) {
  mgn_listing* a = filled_listing(2, 3);     // ids 1..3, two blocks
  mgn_listing* b = mgn_create_listing(2, sizeof(rec));
  mgn_listing* b_last = b;
  for (long i = 4; i <= 8; ++i) mgn_get_listing_item_as<rec>(b_last)->id = i;
  // Any block of either chain will do.
  mgn_listing* joined = mgn_append_listing(mgn_get_first_listing_block(a), b);
  EXPECT_EQ(joined, b_last);
  EXPECT_EQ(listing_ids(joined), range_ids(1, 8));
  EXPECT_EQ(mgn_count_listing_items(mgn_get_first_listing_block(joined)), 8);
  EXPECT_EQ(mgn_append_listing(nullptr, b), b_last);
  EXPECT_EQ(mgn_append_listing(b, nullptr), b_last);
  EXPECT_EQ(mgn_append_listing(nullptr, nullptr), nullptr);

  mgn_listing* c = filled_listing(3, 2);
  mgn_listing* head = mgn_prepend_listing(joined, c);
  EXPECT_EQ(head, c);
  std::vector<long> expected = {1, 2, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(listing_ids(head), expected);
  EXPECT_EQ(mgn_prepend_listing(nullptr, c), c);
  EXPECT_EQ(mgn_prepend_listing(b, nullptr), c);
  mgn_destroy_listing(head);
}

TEST(Listing, DestroyFreesTheRestOfTheChainOnly) {
  const std::size_t before = mgn_listing_memory();
  mgn_listing* listing = filled_listing(10, 25);  // three blocks
  mgn_listing* first = mgn_get_first_listing_block(listing);
  mgn_destroy_listing(first->next);
  EXPECT_EQ(first->next, nullptr);
  EXPECT_EQ(mgn_listing_memory() - before, MGN_LISTING_HEADER_BYTES + 10 * sizeof(rec));
  mgn_destroy_listing(first);
  EXPECT_EQ(mgn_listing_memory(), before);
}

TEST(Listing, ResetAndRecycleGiveRecordsBack) {
  struct recycle_case {
    long capacity, filled, recycled;
    bool zero;
    int blocks_in_use;  // the block reached, counted from 1
  };
  const recycle_case cases[] = {
      {5, 12, 0, false, 2},   {5, 12, 2, false, 2},  {5, 12, 7, true, 2},
      {5, 12, 8, true, 1},    {5, 12, 12, true, 1},  {5, 10, 5, false, 2},
      {5, 5, 0, false, 1},    {1000, 1000, 1, true, 1},
  };
  for (const recycle_case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.capacity << " " << c.filled << " " << c.recycled);
    mgn_listing* listing = mgn_create_listing(c.capacity, sizeof(rec));
    for (long i = 1; i <= c.filled; ++i) mgn_get_listing_item_as<rec>(listing)->id = i;
    mgn_listing* current = c.zero ? mgn_recycle_last_n_items_listing_zero(listing, c.recycled)
                                  : mgn_recycle_last_n_items_listing(listing, c.recycled);
    int index = 0;
    for (mgn_listing* b = current; b; b = b->prev) ++index;
    EXPECT_EQ(index, c.blocks_in_use);
    EXPECT_EQ(mgn_count_listing_items(mgn_get_first_listing_block(current)), c.filled - c.recycled);
    EXPECT_EQ(listing_ids(current), range_ids(1, c.filled - c.recycled));
    // The records given back are handed out again, in the same slots.
    for (long i = c.filled - c.recycled + 1; i <= c.filled; ++i) {
      rec* r = mgn_get_listing_item_as<rec>(current);
      if (c.zero) EXPECT_EQ(r->id, 0);
      else EXPECT_EQ(r->id, i);
      r->id = i;
    }
    EXPECT_EQ(block_count(current), c.filled > c.capacity ? 1 + int((c.filled - c.capacity + 9) / 10) : 1);
    EXPECT_EQ(listing_ids(current), range_ids(1, c.filled));
    // A full block stays full: one more record goes into a new or the
    // following block.
    mgn_get_listing_item_as<rec>(current)->id = c.filled + 1;
    EXPECT_EQ(listing_ids(current), range_ids(1, c.filled + 1));
    mgn_destroy_listing(mgn_get_first_listing_block(current));
  }

  // Reset empties all blocks from the given one; the zeroing variant clears.
  mgn_listing* listing = filled_listing(3, 15);  // blocks of 3, 10, 10
  mgn_listing* first = mgn_get_first_listing_block(listing);
  mgn_reset_listing(first->next);
  EXPECT_EQ(mgn_count_listing_items(first), 3);
  mgn_reset_listing_zero(first);
  EXPECT_EQ(mgn_count_listing_items(first), 0);
  mgn_listing* current = first;
  for (int i = 0; i < 15; ++i) EXPECT_EQ(mgn_get_listing_item_as<rec>(current)->id, 0);
  EXPECT_EQ(block_count(first), 3);  // the blocks are reused, none added
  mgn_destroy_listing(first);
}

TEST(Listing, NeighboursAndNthRecordCrossBlockBorders) {
  mgn_listing* last = filled_listing(3, 8);  // blocks of 3, 10: ids 1..3 | 4..8
  mgn_listing* first = mgn_get_first_listing_block(last);
  auto id = [](void* r) { return r ? static_cast<rec*>(r)->id : 0L; };

  // Forward from nothing through all records; the reference follows.
  mgn_listing* at = first;
  std::vector<long> forward;
  for (void* r = mgn_get_next_listing_item(at, nullptr); r; r = mgn_get_next_listing_item(at, r))
    forward.push_back(id(r));
  EXPECT_EQ(forward, range_ids(1, 8));
  EXPECT_EQ(at, last);
  std::vector<long> backward;
  for (void* r = mgn_get_prev_listing_item(at, nullptr); r; r = mgn_get_prev_listing_item(at, r))
    backward.push_back(id(r));
  EXPECT_EQ(backward, std::vector<long>({8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(at, first);

  struct nth_case {
    bool from_last;
    long n;
    long id;
  };
  const nth_case cases[] = {
      {false, 1, 1}, {false, 3, 3}, {false, 4, 4}, {false, 8, 8}, {false, 9, 0}, {false, 0, 0},
      {false, -1, 0}, {true, 1, 4}, {true, 5, 8},  {true, 6, 0},  {true, -1, 3}, {true, -3, 1},
      {true, -4, 0},
  };
  for (const nth_case& c : cases)
    EXPECT_EQ(id(mgn_get_nth_listing_item(c.from_last ? last : first, c.n)), c.id)
        << c.from_last << " " << c.n;
  EXPECT_EQ(mgn_get_nth_listing_item(nullptr, 1), nullptr);
  mgn_destroy_listing(first);
}

TEST(Listing, WalksSkipEmptyAndPartlyUsedBlocksInTheMiddle) {
  // A chain spliced from two partly used listings and an empty one.
  mgn_listing* a = filled_listing(5, 2);
  mgn_listing* empty = mgn_create_listing(5, sizeof(rec));
  mgn_listing* b = mgn_create_listing(5, sizeof(rec));
  mgn_listing* b_last = b;
  for (long i = 3; i <= 4; ++i) mgn_get_listing_item_as<rec>(b_last)->id = i;
  mgn_append_listing(a, empty);
  mgn_listing* last = mgn_append_listing(a, b);
  EXPECT_EQ(listing_ids(last), range_ids(1, 4));
  std::vector<long> seen;
  mgn_step_listing_forward(a, 1, -1, collect_id, &seen);
  EXPECT_EQ(seen, range_ids(1, 4));
  seen.clear();
  mgn_step_listing_backward(a, 4, -1, collect_id, &seen);
  EXPECT_EQ(seen, std::vector<long>({4, 3, 2, 1}));
  mgn_listing* at = a;
  EXPECT_EQ(static_cast<rec*>(mgn_get_next_listing_item(at, a->base + sizeof(rec)))->id, 3);
  EXPECT_EQ(at, b);
  EXPECT_EQ(static_cast<rec*>(mgn_get_prev_listing_item(at, b->base))->id, 2);
  EXPECT_EQ(at, a);
  EXPECT_EQ(mgn_get_nth_listing_item(b, -1), a->base + sizeof(rec));
  mgn_destroy_listing(a);
}

TEST(Listing, SteppingVisitsTheRequestedRecords) {
  mgn_listing* last = filled_listing(4, 15);  // blocks of 4, 10, 10: ids 1..4 | 5..14 | 15
  mgn_listing* first = mgn_get_first_listing_block(last);
  struct step_case {
    bool forward;
    long first, count;
    std::vector<long> ids;
  };
  const step_case cases[] = {
      {true, 1, -1, range_ids(1, 15)},
      {true, 3, 4, range_ids(3, 6)},
      {true, 15, 1, {15}},
      {true, 2, 0, {}},
      {false, 15, -1, {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
      {false, 6, 3, {6, 5, 4}},
      {false, 1, 1, {1}},
  };
  for (const step_case& c : cases) {
    std::vector<long> seen;
    if (c.forward) mgn_step_listing_forward(first, c.first, c.count, collect_id, &seen);
    else mgn_step_listing_backward(first, c.first, c.count, collect_id, &seen);
    EXPECT_EQ(seen, c.ids) << c.forward << " " << c.first << " " << c.count;
  }
  // From a later block, and backwards from the block before it.
  std::vector<long> seen;
  mgn_step_listing_forward(last, 1, -1, collect_id, &seen);
  EXPECT_EQ(seen, std::vector<long>({15}));
  seen.clear();
  mgn_step_listing_backward(last, -2, 2, collect_id, &seen);
  EXPECT_EQ(seen, std::vector<long>({13, 12}));
  // A null listing with a negative count does nothing.
  mgn_step_listing_forward(nullptr, 1, -1, collect_id, &seen);
  mgn_step_listing_backward(nullptr, 1, -1, collect_id, &seen);
  EXPECT_EQ(seen.size(), 2u);
  mgn_destroy_listing(first);
}

TEST(Listing, SteppingForwardVisitsRecordsAddedDuringTheWalk) {
  // Each visit of a record with an id below 5 hands out a new record, as a
  // front-advancing mesher does with its own listing.
  struct grow {
    mgn_listing* listing;
    long next_id;
    std::vector<long> seen;
  };
  mgn_listing* first = filled_listing(3, 3);
  grow g{first, 4, {}};
  mgn_step_listing_forward(
      first, 1, -1,
      [](void* record, void* argument) {
        auto* state = static_cast<grow*>(argument);
        state->seen.push_back(static_cast<rec*>(record)->id);
        if (state->next_id <= 6) mgn_get_listing_item_as<rec>(state->listing)->id = state->next_id++;
      },
      &g);
  EXPECT_EQ(g.seen, range_ids(1, 6));
  mgn_destroy_listing(first);
}

TEST(Listing, TypedHelpersMatchTheUntypedRoutines) {
  mgn_listing* last = filled_listing(3, 7);
  mgn_listing* first = mgn_get_first_listing_block(last);
  std::vector<long> typed, untyped;
  mgn_apply_to_listing<rec>(first, [&](rec* r) { typed.push_back(r->id); });
  mgn_apply_to_listing(first, collect_id, &untyped);
  EXPECT_EQ(typed, range_ids(1, 7));
  EXPECT_EQ(untyped, typed);
  // From a later block only that block and the following ones.
  typed.clear();
  mgn_apply_to_listing<rec>(last, [&](rec* r) { typed.push_back(r->id); });
  EXPECT_EQ(typed, range_ids(4, 7));
  EXPECT_TRUE(mgn_listing_range<rec>(nullptr).begin() == mgn_listing_range<rec>(nullptr).end());
  mgn_destroy_listing(first);

  // Listings of references.
  int values[3] = {7, 8, 9};
  mgn_listing* refs = mgn_create_listing(2, sizeof(int*));
  for (int& v : values) *mgn_get_listing_item_as<int*>(refs) = &v;
  std::vector<int> seen;
  for (int** r : mgn_listing_range<int*>(mgn_get_first_listing_block(refs))) seen.push_back(**r);
  EXPECT_EQ(seen, std::vector<int>({7, 8, 9}));
  mgn_destroy_listing(mgn_get_first_listing_block(refs));
}

TEST(Listing, FirstRecordsWalkStopsAfterTheCountOrAtTheEnd) {
  // Blocks of 4, 10, 10: ids 1..4 | 5..14 | 15, and another chain after it,
  // as an entity's listing once linked into a global one.
  mgn_listing* last = filled_listing(4, 15);
  mgn_listing* first = mgn_get_first_listing_block(last);
  mgn_listing* other = filled_listing(3, 2);
  mgn_append_listing(last, other);
  struct first_case {
    long count;
    std::vector<long> ids;
  };
  const first_case cases[] = {
      {0, {}}, {1, {1}}, {4, range_ids(1, 4)}, {5, range_ids(1, 5)}, {15, range_ids(1, 15)},
      {17, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 1, 2}}, {40, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 1, 2}},
  };
  for (const first_case& c : cases) {
    std::vector<long> seen;
    for (rec* r : mgn_listing_first<rec>(first, c.count)) seen.push_back(r->id);
    EXPECT_EQ(seen, c.ids) << c.count;
  }
  // A negative count walks every record; a null listing has none.
  long n = 0;
  for (rec* r : mgn_listing_first<rec>(first, -1)) n += r != nullptr;
  EXPECT_EQ(n, 17);
  for (rec* r : mgn_listing_first<rec>(nullptr, 5)) n += r != nullptr;
  EXPECT_EQ(n, 17);
  mgn_destroy_listing(first);
}

TEST(List, AddOnceKeepsTheFirstHolder) {
  list_fixture f;
  mgn_list list = f.make({1, 2});
  EXPECT_NE(mgn_add_item_once(list, f.at(3)), nullptr);
  EXPECT_EQ(mgn_add_item_once(list, f.at(2)), nullptr);
  EXPECT_EQ(mgn_add_item_once(list, f.at(3)), nullptr);
  EXPECT_EQ(contents(list), std::vector<int>({3, 1, 2}));
  mgn_destroy_list(list);
}

TEST(Listing, PeakMemoryOutlivesReleasedBlocks) {
  const std::size_t before = mgn_listing_memory();
  mgn_listing* big = mgn_create_listing(100000, sizeof(rec));
  const std::size_t big_bytes = MGN_LISTING_HEADER_BYTES + 100000 * sizeof(rec);
  EXPECT_GE(mgn_listing_memory_peak(), before + big_bytes);
  mgn_destroy_listing(big);
  EXPECT_EQ(mgn_listing_memory(), before);
  EXPECT_GE(mgn_listing_memory_peak() - mgn_listing_memory(), big_bytes);
  EXPECT_GE(mgn_listing_memory_peak(), mgn_listing_memory());
}

TEST(ListingDeath, MisuseIsAManipulationError) {
  mgn_listing* last = filled_listing(3, 5);
  mgn_listing* first = mgn_get_first_listing_block(last);
  std::vector<long> seen;
  // Recycling more than the listing holds.
  EXPECT_EXIT(mgn_recycle_last_n_items_listing(last, 6), ::testing::ExitedWithCode(10),
              place("mgn_recycle_last_n_items_listing") + "\nUnexpected situation");
  EXPECT_EXIT(mgn_recycle_last_n_items_listing_zero(last, 6), ::testing::ExitedWithCode(10),
              "Unexpected situation");
  // Stepping beyond the end: every record is visited first.
  EXPECT_EXIT(
      {
        mgn_step_listing_forward(first, 1, 6,
                                 [](void* r, void*) { std::fprintf(stderr, "visit %ld\n", static_cast<rec*>(r)->id); },
                                 nullptr);
      },
      ::testing::ExitedWithCode(10),
      "visit 1\nvisit 2\nvisit 3\nvisit 4\nvisit 5\n(.|\n)*" + place("mgn_step_listing_forward") +
          "\nUnexpected end of listing");
  EXPECT_EXIT(mgn_step_listing_backward(last, 2, 6, collect_id, &seen), ::testing::ExitedWithCode(10),
              place("mgn_step_listing_backward") + "\nUnexpected end of listing");
  EXPECT_EXIT(mgn_step_listing_forward(nullptr, 1, 1, collect_id, &seen), ::testing::ExitedWithCode(10),
              place("mgn_step_listing_forward") + "\nUnexpected end of listing");
  EXPECT_EXIT(mgn_step_listing_forward(first, 6, 1, collect_id, &seen), ::testing::ExitedWithCode(10),
              place("mgn_step_listing_forward") + "\nInvalid first item");
  EXPECT_EXIT(mgn_step_listing_backward(first, 0, 1, collect_id, &seen), ::testing::ExitedWithCode(10),
              place("mgn_step_listing_backward") + "\nInvalid first item");
  // Shrinking a chain whose partly used block is followed by records.
  mgn_listing* a = filled_listing(5, 2);
  mgn_append_listing(a, filled_listing(5, 2));
  EXPECT_EXIT(mgn_realloc_listing(a), ::testing::ExitedWithCode(10),
              place("mgn_realloc_listing") + "\nUnexpected situation");
  // Joining a chain to itself.
  EXPECT_EXIT(mgn_append_listing(a, a->next), ::testing::ExitedWithCode(10), "Unexpected situation");
  EXPECT_EXIT(mgn_append_listing(first, last), ::testing::ExitedWithCode(10),
              place("mgn_append_listing") + "\nUnexpected situation");
  mgn_destroy_listing(a);
  mgn_destroy_listing(first);
}

// ---------------------------------------------------------------------------
// Numbered listings
// ---------------------------------------------------------------------------

TEST(NumberedListing, DenseNumbersReachStableZeroedRecordsAcrossBlocks) {
  mgn_numbered_listing store;
  const std::size_t before = mgn_listing_memory();
  // Past two block borders: the last record of a block and the first of the
  // next must not share a slot, and a record must stay where it was while
  // later blocks are added.
  const uint32_t n = MGN_NUMBERED_FIRST + 2 * MGN_NUMBERED_BLOCK + 4;
  std::vector<rec*> first_seen;
  for (uint32_t k = MGN_NUMBERED_FIRST; k <= n; ++k) {
    ASSERT_EQ(mgn_new_numbered_record(store, sizeof(rec)), k);
    rec* r = mgn_numbered_record<rec>(store, k);
    EXPECT_EQ(r->id, 0) << k;
    EXPECT_EQ(r->value, 0.0) << k;
    r->id = static_cast<long>(k);
    first_seen.push_back(r);
  }
  EXPECT_EQ(store.blocks.size(), 4u);
  for (uint32_t k = MGN_NUMBERED_FIRST; k <= n; ++k) {
    ASSERT_EQ(mgn_numbered_record<rec>(store, k), first_seen[k - MGN_NUMBERED_FIRST]) << k;
    EXPECT_EQ(mgn_numbered_record<rec>(store, k)->id, static_cast<long>(k));
  }
  // Number 0 ("none") leads to no record.
  EXPECT_EQ(mgn_numbered_record<rec>(store, 0), nullptr);
  // The records are listing memory (three full blocks with their headers),
  // and all of it goes with the store.
  EXPECT_EQ(mgn_listing_memory() - before, 3 * (MGN_LISTING_HEADER_BYTES + MGN_NUMBERED_BLOCK * sizeof(rec)));
  mgn_destroy_numbered_listing(store);
  EXPECT_EQ(mgn_listing_memory(), before);
  EXPECT_EQ(store.blocks.size(), 1u);
  EXPECT_EQ(mgn_numbered_record<rec>(store, 0), nullptr);
  // A store given back starts again from the first number.
  EXPECT_EQ(mgn_new_numbered_record(store, sizeof(rec)), MGN_NUMBERED_FIRST);
  EXPECT_EQ(mgn_numbered_record<rec>(store, MGN_NUMBERED_FIRST)->id, 0);
  mgn_destroy_numbered_listing(store);
}

TEST(NumberedListingDeath, RecordsOfAnotherSizeAreRefused) {
  mgn_numbered_listing store;
  mgn_new_numbered_record(store, sizeof(rec));
  EXPECT_EXIT(mgn_new_numbered_record(store, sizeof(long)), ::testing::ExitedWithCode(10),
              place("mgn_new_numbered_record") + "\nInvalid item");
  mgn_destroy_numbered_listing(store);
}

TEST(ListingDeath, AllocationFailureIsAnAllocationError) {
  EXPECT_EXIT(mgn_create_listing(1L << 62, 1024), ::testing::ExitedWithCode(15),
              place("mgn_create_listing") + "\nMemory allocation failed");
}
