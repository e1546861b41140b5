// Obtaining a key: looked up, else derived and stored; a store that fails or
// a cancel are told, never hidden.
#include "keys/obtain_key.h"
#include "keys/key_store.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

namespace vorsal {
namespace {

TEST(ObtainKey, DerivesAndStoresThenFindsAndGoesOnWhenTheStoreFails) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "Keys.ini";
  int chunks = 0;
  const KeyObtainHooks counting{[&](int) { ++chunks; }, {}};

  const ObtainedKey derived = ObtainKey("ab", file, counting);
  EXPECT_EQ(derived.source, KeySourceKind::Derivation);
  EXPECT_EQ(derived.storing, KeyStoring::Stored);
  EXPECT_EQ(chunks, KeyDerivationChunks);

  chunks = 0;
  const ObtainedKey found = ObtainKey("AB", file, counting);  // names match without regard to case
  EXPECT_EQ(found.source, KeySourceKind::Store);
  EXPECT_EQ(found.key, derived.key);
  EXPECT_EQ(chunks, 0);

  // Without the look-up the name is derived again, and the stored entry is
  // the one the name already had.
  const ObtainedKey again = ObtainKey("ab", file, {}, /*lookUp=*/false);
  EXPECT_EQ(again.key, derived.key);
  EXPECT_EQ(again.storing, KeyStoring::Stored);

  test::WriteAll(dir / "file", "");
  const ObtainedKey unstored = ObtainKey("ab", dir / "file" / "Keys.ini");
  EXPECT_EQ(unstored.storing, KeyStoring::Failed);
  EXPECT_FALSE(unstored.storeError.empty());
  EXPECT_EQ(unstored.key, derived.key) << "a key that cannot be stored is still obtained";
}

TEST(ObtainKey, ACancelStoresNothingAndAnEmptyNameIsTheZeroKey) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "Keys.ini";
  int chunks = 0;
  const ObtainedKey cancelled = ObtainKey("ab", file, {[&](int) { ++chunks; }, [&] { return chunks == 3; }});
  EXPECT_TRUE(cancelled.cancelled);
  EXPECT_EQ(chunks, 3);
  EXPECT_TRUE(KeyStoreNames(file).empty());

  const ObtainedKey none = ObtainKey("", file);
  EXPECT_EQ(none.source, KeySourceKind::None);
  EXPECT_EQ(none.key, BinaryKeyBytes{});
  EXPECT_EQ(none.storing, KeyStoring::NotTried);
}

// A stored value that is not exactly 64 hex digits is refused, never read as
// a key; only an explicit store (vorsal-key --store, no look-up) replaces it.
TEST(ObtainKey, ADamagedStoredValueIsRefusedUntilStoredAnew) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "Keys.ini";
  for (const std::string& value : {std::string("ABCD"), std::string(63, 'A'), std::string(65, 'A'), std::string(63, 'A') + "G"}) {
    test::WriteAll(file, "[Keys]\r\nPlant1=" + value + "\r\n");
    const ObtainedKey damaged = ObtainKey("plant1", file);
    EXPECT_EQ(damaged.source, KeySourceKind::Damaged) << value;
    EXPECT_EQ(damaged.storing, KeyStoring::NotTried) << value;
    EXPECT_EQ(KeyStoreLookup(file, "Plant1"), value) << "a refused entry is left as it is";
  }
  const ObtainedKey stored = ObtainKey("Plant1", file, {}, /*lookUp=*/false);
  EXPECT_EQ(stored.storing, KeyStoring::Stored);
  const ObtainedKey found = ObtainKey("Plant1", file);
  EXPECT_EQ(found.source, KeySourceKind::Store);
  EXPECT_EQ(found.key, stored.key);
  EXPECT_TRUE(StoredKeyValid(std::string(32, 'a') + std::string(32, '9')));
}

}  // namespace
}  // namespace vorsal
