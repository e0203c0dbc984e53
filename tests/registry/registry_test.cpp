// The registry's order: blocks by name, a block's references by the sorted-list insertion
// rule, procedures by name in arrival order; and the consistency flag.
#include "registry/registry.h"

#include <gtest/gtest.h>

#include <list>
#include <random>

namespace drelk {
namespace {

// "size path" for each reference of the block, in list order, with "I" for marked ones.
std::vector<std::string> listing(const CommonBlock& block) {
  std::vector<std::string> lines;
  for (const BlockReference* reference : block_references(block)) {
    lines.push_back(std::to_string(reference->size) + " " + reference->object->path +
                    (reference->initialized ? " I" : ""));
  }
  return lines;
}

class RegistryTest : public ::testing::Test {
 protected:
  ~RegistryTest() override { free_lists(registry); }

  const ObjectEntry& object(const std::string& path) {
    return *record_object(registry, path, path);
  }
  const CommonBlock& block(const std::string& name) { return *find_block(registry, name); }

  Registry registry;
};

TEST_F(RegistryTest, EqualSizesJoinInPathOrder) {
  const ObjectEntry& a = object("a.obj");
  const ObjectEntry& b = object("b.obj");
  EXPECT_EQ(add_common_reference(registry, b, "X", 400), Outcome::kOk);
  EXPECT_EQ(add_common_reference(registry, a, "X", 400), Outcome::kOk);
  EXPECT_EQ(listing(block("X")), (std::vector<std::string>{"400 a.obj", "400 b.obj"}));
  EXPECT_TRUE(block("X").consistent);
}

TEST_F(RegistryTest, LargerNewSizeGoesFirstAndClearsConsistency) {
  const ObjectEntry& a = object("a.obj");
  const ObjectEntry& c = object("c.obj");
  add_common_reference(registry, a, "X", 400);
  add_common_reference(registry, c, "X", 800);
  EXPECT_EQ(listing(block("X")), (std::vector<std::string>{"800 c.obj", "400 a.obj"}));
  EXPECT_FALSE(block("X").consistent);
}

TEST_F(RegistryTest, KnownSizeWithNoGreaterPathGoesToTheVeryEnd) {
  add_common_reference(registry, object("c.obj"), "X", 800);
  add_common_reference(registry, object("a.obj"), "X", 400);
  add_common_reference(registry, object("e.obj"), "X", 200);
  add_common_reference(registry, object("d.obj"), "X", 400);
  EXPECT_EQ(listing(block("X")),
            (std::vector<std::string>{"800 c.obj", "400 a.obj", "200 e.obj", "400 d.obj"}));
}

TEST_F(RegistryTest, NewSizeGoesBeforeTheNextSmallerSize) {
  add_common_reference(registry, object("a.obj"), "X", 800);
  add_common_reference(registry, object("b.obj"), "X", 100);
  add_common_reference(registry, object("c.obj"), "X", 400);
  add_common_reference(registry, object("d.obj"), "X", 50);
  EXPECT_EQ(listing(block("X")),
            (std::vector<std::string>{"800 a.obj", "400 c.obj", "100 b.obj", "50 d.obj"}));
}

TEST_F(RegistryTest, SizesCompareUnsigned) {
  add_common_reference(registry, object("a.obj"), "X", 400);
  add_common_reference(registry, object("b.obj"), "X", 0xFFFFFFFF);
  add_common_reference(registry, object("c.obj"), "X", 0);
  EXPECT_EQ(listing(block("X")),
            (std::vector<std::string>{"4294967295 b.obj", "400 a.obj", "0 c.obj"}));
}

TEST_F(RegistryTest, NamesAreCaseSensitiveAndSortByBytes) {
  const ObjectEntry& a = object("a.obj");
  for (const char* name : {"blk", "BLK", "\xE9t\xE9", "Blk"})
    add_common_reference(registry, a, name, 4);
  std::vector<std::string_view> names;
  for (const CommonBlock* b : sorted_blocks(registry)) names.push_back(b->name);
  EXPECT_EQ(names, (std::vector<std::string_view>{"BLK", "Blk", "blk", "\xE9t\xE9"}));
}

TEST_F(RegistryTest, SameObjectDeclaringTwiceAddsTwoReferences) {
  const ObjectEntry& a = object("a.obj");
  add_common_reference(registry, a, "X", 4);
  add_common_reference(registry, a, "X", 4);
  EXPECT_EQ(listing(block("X")), (std::vector<std::string>{"4 a.obj", "4 a.obj"}));
}

TEST_F(RegistryTest, MarkLandsOnTheFirstReferenceWithThePathInListOrder) {
  // Two entries share one path, as two members of one library shown by its path do.
  const ObjectEntry& first = object("lib.lib (no obj file given)");
  const ObjectEntry& second = object("lib.lib (no obj file given)");
  add_common_reference(registry, first, "X", 400);
  add_common_reference(registry, second, "X", 800);
  CommonBlock& x = *find_block(registry, "X");
  EXPECT_TRUE(mark_initialized(x, second.path));
  EXPECT_EQ(listing(x), (std::vector<std::string>{"800 lib.lib (no obj file given) I",
                                                  "400 lib.lib (no obj file given)"}));
  EXPECT_FALSE(mark_initialized(x, "other.obj"));
}

TEST_F(RegistryTest, ProceduresSortByNameAndKeepArrivalOrderForEqualNames) {
  const ObjectEntry& a = object("a.obj");
  const ObjectEntry& b = object("b.obj");
  add_procedure(registry, b, "_sub_");
  add_procedure(registry, a, "_main");
  add_procedure(registry, a, "_sub_");
  std::vector<std::string> order;
  for (const ProcedureEntry& p : sorted_procedures(registry)) {
    order.push_back(std::string(p.name) + " " + p.definer->path);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"_main a.obj", "_sub_ b.obj", "_sub_ a.obj"}));
}

TEST_F(RegistryTest, FreeListsEmptiesEverything) {
  add_common_reference(registry, object("a.obj"), "X", 4);
  add_procedure(registry, *registry.object_list.front(), "_p");
  free_lists(registry);
  EXPECT_TRUE(registry.object_list.empty());
  EXPECT_TRUE(sorted_blocks(registry).empty());
  EXPECT_TRUE(sorted_procedures(registry).empty());
  EXPECT_EQ(find_block(registry, "X"), nullptr);
}

// A literal model of the registry as sorted singly linked lists with linear walks: the
// order the report must show is defined by it.
struct ModelReference {
  const ObjectEntry* object;
  uint32_t size;
  bool initialized = false;
};
struct ModelBlock {
  std::string name;
  std::list<ModelReference> references;
  bool consistent = true;
};

class Model {
 public:
  Outcome add(const ObjectEntry& object, const std::string& name, uint32_t size) {
    auto block = blocks_.begin();
    while (block != blocks_.end() && block->name < name) ++block;
    if (block == blocks_.end() || block->name != name) {
      blocks_.insert(block, ModelBlock{name, {{&object, size}}, true});
      return Outcome::kOk;
    }
    auto& references = block->references;
    auto at = references.begin();
    while (at->size != size) {
      block->consistent = false;
      if (at->size < size) {
        references.insert(at, {&object, size});
        return Outcome::kOk;
      }
      if (++at == references.end()) {
        references.push_back({&object, size});
        return Outcome::kOk;
      }
    }
    for (; at != references.end(); ++at) {
      if (at->size == size && at->object->path > object.path) {
        references.insert(at, {&object, size});
        return Outcome::kOk;
      }
    }
    references.push_back({&object, size});
    return Outcome::kOk;
  }

  void mark(const std::string& name, const std::string& path) {
    for (ModelBlock& block : blocks_) {
      if (block.name != name) continue;
      for (ModelReference& reference : block.references) {
        if (reference.object->path == path) {
          reference.initialized = true;
          return;
        }
      }
    }
  }

  const std::list<ModelBlock>& blocks() const { return blocks_; }

 private:
  std::list<ModelBlock> blocks_;
};

TEST(RegistryDifferential, MatchesTheSortedListModelOnRandomSequences) {
  std::mt19937 random(20261208);
  const std::vector<std::string> names = {"A", "B", "a", "AB", "_grid_"};
  const std::vector<std::string> paths = {"a.obj", "b.obj", "c.obj", "b.obj", "B.obj", "a.obj"};
  const std::vector<uint32_t> sizes = {0, 4, 8, 400, 800, 0xFFFFFFFF};
  for (int sequence = 0; sequence < 10000; ++sequence) {
    Registry registry;
    Model model;
    std::vector<const ObjectEntry*> objects;
    for (const std::string& path : paths) objects.push_back(record_object(registry, path, path));
    const int steps = 1 + static_cast<int>(random() % 40);
    // Few names, few sizes and few paths per sequence, so that equal sizes and equal
    // paths meet often.
    const size_t name_count = 1 + random() % names.size();
    const size_t size_count = 1 + random() % sizes.size();
    std::string trace;
    for (int step = 0; step < steps; ++step) {
      const std::string& name = names[random() % name_count];
      const ObjectEntry& object = *objects[random() % objects.size()];
      if (random() % 8 == 0) {
        trace += "mark " + name + " " + object.path + "\n";
        model.mark(name, object.path);
        if (CommonBlock* block = find_block(registry, name)) mark_initialized(*block, object.path);
        continue;
      }
      const uint32_t size = sizes[random() % size_count];
      trace += "add " + name + " " + std::to_string(size) + " " + object.path + "\n";
      ASSERT_EQ(add_common_reference(registry, object, name, size), model.add(object, name, size))
          << trace;
    }
    const std::vector<const CommonBlock*> blocks = sorted_blocks(registry);
    ASSERT_EQ(blocks.size(), model.blocks().size()) << trace;
    auto expected = model.blocks().begin();
    for (const CommonBlock* block : blocks) {
      ASSERT_EQ(block->name, expected->name) << trace;
      ASSERT_EQ(block->consistent, expected->consistent) << trace;
      const std::vector<const BlockReference*> references = block_references(*block);
      ASSERT_EQ(references.size(), expected->references.size()) << trace;
      auto want = expected->references.begin();
      for (const BlockReference* reference : references) {
        // The same entry, not merely the same path: equal paths keep arrival order.
        ASSERT_EQ(reference->object, want->object) << trace;
        ASSERT_EQ(reference->size, want->size) << trace;
        ASSERT_EQ(reference->initialized, want->initialized) << trace;
        ++want;
      }
      ++expected;
    }
    free_lists(registry);
  }
}

// Many distinct paths arriving in orders that crowd the path index: always before all
// others, zigzagging inwards, or at random; the order must still be the model's. Block A,
// declared by every object, is long enough to be put in order by the radix sort.
TEST(RegistryDifferential, MatchesTheModelWithManyPathsInHostileOrders) {
  std::mt19937 random(42);
  constexpr int kObjects = 2500;
  for (int order = 0; order < 3; ++order) {
    Registry registry;
    Model model;
    std::vector<const ObjectEntry*> objects;
    for (int i = 0; i < kObjects; ++i) {
      int k = i;
      if (order == 0) k = kObjects - 1 - i;                        // decreasing
      if (order == 1) k = (i % 2) ? kObjects - 1 - i / 2 : i / 2;  // zigzag inwards
      if (order == 2) k = static_cast<int>(random() % kObjects);   // random, with repeats
      char path[32];
      std::snprintf(path, sizeof path, "dir/%05d.obj", k);
      objects.push_back(record_object(registry, path, path));
    }
    for (const ObjectEntry* object : objects) {
      for (int declaration = 0; declaration < 3; ++declaration) {
        const std::string name = declaration == 0 ? "A" : (random() % 2 ? "B" : "C");
        // Block A keeps one size; B and C take two.
        const uint32_t size = (declaration > 0 && random() % 5 == 0) ? 8 : 4;
        ASSERT_EQ(add_common_reference(registry, *object, name, size),
                  model.add(*object, name, size));
      }
    }
    const std::vector<const CommonBlock*> blocks = sorted_blocks(registry);
    ASSERT_EQ(blocks.size(), model.blocks().size());
    auto expected = model.blocks().begin();
    for (const CommonBlock* block : blocks) {
      std::vector<const ObjectEntry*> got;
      for (const BlockReference* reference : block_references(*block))
        got.push_back(reference->object);
      std::vector<const ObjectEntry*> want;
      for (const ModelReference& reference : expected->references) want.push_back(reference.object);
      ASSERT_EQ(got, want) << "order " << order << " block " << block->name;
      ++expected;
    }
    free_lists(registry);
  }
}

}  // namespace
}  // namespace drelk
