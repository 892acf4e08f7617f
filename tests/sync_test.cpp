#include <gtest/gtest.h>
TEST(Sync, Placeholder) {}
