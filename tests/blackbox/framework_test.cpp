#include <gtest/gtest.h>
#include "camsim_run.h"
TEST(Framework, Smoke) {
  Camsim cam;
  auto r = cam.debug({"-M", "gpio", "-w", "5", "-d", "1"});
  EXPECT_EQ(r.out, "GPIO write id = 5, data = 1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  for (auto &l : cam.calls()) printf("%s\n", l.c_str());
}
