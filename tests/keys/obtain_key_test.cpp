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

}  // namespace
}  // namespace vorsal
