// COM entries as the port settings write them and the search reads them, on every system: on
// Windows a file per number (COM1..COM9 are device names there, in any folder).
#include <gtest/gtest.h>

#include <string>

#include "port/com_names.h"
#include "temp_dir.h"

namespace km27 {
namespace {

TEST(ComEntries, WrittenReplacedAndRemovedWhereTheSearchFindsThem) {
  TempDir tmp("entries");
  ComEnvironment env;
  env.userDir = tmp.path + "/new/com";  // not there yet: the first entry makes it
  int err = 0;
  const std::string url = "rfc2217://10.1.2.3:4001";
  for (int n : {3, 10}) {
    ASSERT_TRUE(SetComEntry(n, "tcp://10.1.2.3:4000", env, &err)) << n << " " << err;
    ASSERT_TRUE(SetComEntry(n, url, env, &err)) << n << " " << err;  // over the old one
    EXPECT_EQ(ComEntryTarget(n, env), url) << n;
    EXPECT_EQ(ComDevicePath(n, env), url) << n;
  }
  env.comDir = env.userDir;  // the tests' and simulators' directory reads the same entries
  EXPECT_EQ(ComDevicePaths(10, env)[2], url);
  EXPECT_EQ(ComDevicePaths(10, env)[3], ComDevicePath(4, env));
  ASSERT_TRUE(SetComEntry(3, "", env, &err)) << err;
  EXPECT_EQ(ComEntryTarget(3, env), "");
  EXPECT_TRUE(SetComEntry(3, "", env, &err)) << "removing what is not there is no failure";
  EXPECT_EQ(ComEntryTarget(10, env), url);
}

}  // namespace
}  // namespace km27
