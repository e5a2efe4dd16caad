#pragma once
// How containers are named: the plain file's complete name followed by ".ksr".
#include <QString>

inline constexpr char16_t kContainerExtension[] = u".ksr";
inline constexpr int kContainerExtensionLength = 4;

// Longer than 4 characters and ending in ".ksr", ignoring case.
bool IsContainerName(const QString& name);
// The name a container is listed under: its own name without the extension.
QString ContainerDisplayName(const QString& containerName);
QString ContainerNameFor(const QString& plainName);
