#pragma once
// How containers are named: the plain file's complete name followed by ".ksr".
#include "platform/path_limits.h"

#include <QString>

inline constexpr char16_t kContainerExtension[] = u".ksr";
inline constexpr int kContainerExtensionLength = 4;
// The longest path that still takes the extension (255).
inline constexpr int kLongestPlainPath = plat::kLongestPath - kContainerExtensionLength;

// Longer than 4 characters and ending in ".ksr", ignoring case.
bool IsContainerName(const QString& name);
// The name a container is listed under: its own name without the extension.
QString ContainerDisplayName(const QString& containerName);
QString ContainerNameFor(const QString& plainName);
