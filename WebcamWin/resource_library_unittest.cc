#include "WebcamWin/resource_library.h"

#include <gtest/gtest.h>

#include "base/file_util.h"

namespace {

// The test programs sit in tests/, the programs and the library in bin/.
base::string16 builtLibrary() {
  const base::string16 name = base::baseName(ResourceLibrary::defaultPath());
  return base::joinPath(base::joinPath(base::dirName(base::executableDirectory()), u"bin"), name);
}

TEST(ResourceLibraryTest, HoldsTheProgramsStringTable) {
  ResourceLibrary library;
  ASSERT_TRUE(library.load(builtLibrary()));
  EXPECT_EQ(u"Lumora ZuvIridar for iPhone", library.string(128));
  EXPECT_EQ(u"'%s' is now connected via WiFi.", library.string(50027));
  const base::string16 update = library.string(50033);
  EXPECT_EQ(0u, update.find(u"Lumora ZuvIridar version %s now available for download.\n\n"));
  EXPECT_NE(base::string16::npos, update.find(u"\n\nWould you like to download the latest version now?"));
  EXPECT_TRUE(library.string(1).empty());
  EXPECT_NE(nullptr, library.nativeHandle());
}

TEST(ResourceLibraryTest, CurrentLibraryServesLoadString) {
  EXPECT_EQ(nullptr, ResourceLibrary::current());
  EXPECT_TRUE(loadString(128).empty());
  {
    ResourceLibrary library;
    ASSERT_TRUE(library.load(builtLibrary()));
    ResourceLibrary::setCurrent(&library);
    EXPECT_EQ(u"Lumora ZuvIridar is running", loadString(50029));
  }
  // A library going away stops being the current one.
  EXPECT_EQ(nullptr, ResourceLibrary::current());
}

TEST(ResourceLibraryTest, MissingOrForeignFilesAreRefused) {
  ResourceLibrary library;
  EXPECT_FALSE(library.load(base::joinPath(base::executableDirectory(), u"no-such-lang.lib")));
  EXPECT_FALSE(library.loaded());
  EXPECT_TRUE(library.string(128).empty());
}

}  // namespace
