#pragma once

#include <QLatin1String>

// Keys of the library document, shared by the files that read and build it.
namespace VintrelleKeys {
inline constexpr QLatin1String id("id");
inline constexpr QLatin1String name("name");
inline constexpr QLatin1String parentId("parentId");
inline constexpr QLatin1String entries("entries");
inline constexpr QLatin1String label("label");
inline constexpr QLatin1String uri("uri");
inline constexpr QLatin1String path("path");
inline constexpr QLatin1String categories("categories");
} // namespace VintrelleKeys
