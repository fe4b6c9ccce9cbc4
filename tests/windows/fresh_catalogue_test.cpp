// The catalogue record as a fresh process first sees it: zero-filled, so an
// entry without a default shows an empty one. This program makes no other
// call before these, which is why it is a program of its own.
#include <gtest/gtest.h>

#include <string>

#include "host_records.h"
#include "plugin_loader.h"

namespace {

using udmtest::plugin;

using udm::CatalogueText;

std::string field(const void* record, CatalogueText which) {
    return std::string(udm::CatalogueEntryView(record).text(which));
}

TEST(FreshCatalogue, FirstEntriesBeforeAnyParameter) {
    const void* state = plugin().listNodeInfo(0);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(field(state, CatalogueText::Name), "STATE");
    EXPECT_EQ(udm::CatalogueEntryView(state).kind(), 3);
    EXPECT_EQ(field(state, CatalogueText::Default), "");

    EXPECT_EQ(plugin().listNodeInfo(4294967295u), nullptr);
    const void* node = plugin().listNodeInfo(10);
    ASSERT_EQ(node, state);
    EXPECT_EQ(field(node, CatalogueText::Name), "N1");
    EXPECT_EQ(field(node, CatalogueText::Default), "");
}

}  // namespace
