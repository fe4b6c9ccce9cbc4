// The catalogue record as a fresh process first sees it: zero-filled, so an
// entry without a default shows an empty one. This program makes no other
// call before these, which is why it is a program of its own.
#include <gtest/gtest.h>

#include <string>

#include "host_records.h"
#include "plugin_loader.h"

namespace {

using udmtest::plugin;

std::string field(const void* record, std::size_t offset) {
    return static_cast<const char*>(record) + offset;
}

TEST(FreshCatalogue, FirstEntriesBeforeAnyParameter) {
    const void* state = plugin().listNodeInfo(0);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(field(state, UDM_CAT_NAME), "STATE");
    EXPECT_EQ(udm::loadAt<int32_t>(static_cast<const unsigned char*>(state), UDM_CAT_KIND), 3);
    EXPECT_EQ(field(state, UDM_CAT_DEFAULT), "");

    EXPECT_EQ(plugin().listNodeInfo(4294967295u), nullptr);
    const void* node = plugin().listNodeInfo(10);
    ASSERT_EQ(node, state);
    EXPECT_EQ(field(node, UDM_CAT_NAME), "N1");
    EXPECT_EQ(field(node, UDM_CAT_DEFAULT), "");
}

}  // namespace
